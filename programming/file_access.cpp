#include "programming/file_access.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include "text/utf16.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#endif

namespace isp {

std::string openFailure(int err) {
#ifndef _WIN32
  if (err == ENODEV) return "a device, not a file";
  if (err == ELOOP) return "a link that another user put in a folder everybody may write; it is not followed";
#endif
  return std::strerror(err);
}

#ifdef _WIN32

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
  return ::_wfopen(toUtf16(utf8Path).c_str(), toUtf16(mode).c_str());
}

std::string fileName(const std::string& utf8Path) {
  const std::u8string name =
      std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end())).filename().u8string();
  return std::string(name.begin(), name.end());
}

#else

namespace {

bool isDevice(mode_t mode) { return S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode); }

// A link in a sticky folder that everybody may write, owned by neither us
// nor the folder's owner: somebody else's link, waiting for us to follow it.
bool plantedLink(const std::string& path) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) || link.st_uid == ::geteuid()) return false;
  struct stat folder {};
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (::stat(parent.empty() ? "." : parent.c_str(), &folder) != 0) return false;
  return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) && link.st_uid != folder.st_uid;
}

}  // namespace

int openNamedFile(const std::string& path, int flags, unsigned mode) {
  struct stat st {};
  if (plantedLink(path)) {
    errno = ELOOP;
    return -1;
  }
  if (::stat(path.c_str(), &st) == 0 && isDevice(st.st_mode)) {
    errno = ENODEV;
    return -1;
  }
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  // Swapped for a device since the look, or the blocking left on: refused.
  if (::fstat(fd, &st) != 0 || isDevice(st.st_mode) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    errno = ENODEV;
    return -1;
  }
  return fd;
}

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
  const std::string_view m = mode;
  int flags = m.starts_with('r')   ? O_RDONLY
              : m.starts_with('a') ? O_WRONLY | O_CREAT | O_APPEND
                                   : O_WRONLY | O_CREAT | O_TRUNC;
  if (m.find('+') != std::string_view::npos) flags = (flags & ~O_ACCMODE) | O_RDWR;
  const int fd = openNamedFile(utf8Path, flags);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, mode);
  if (!f) {
    const int err = errno;
    ::close(fd);
    errno = err;
  }
  return f;
}

std::string fileName(const std::string& utf8Path) { return std::filesystem::path(utf8Path).filename().string(); }

#endif

}  // namespace isp
