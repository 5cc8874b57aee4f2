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

#include "serial/posix/path_walk.h"
#endif

namespace isp {

std::string openFailure(int err) {
#ifndef _WIN32
  if (err == ENODEV) return "a device, not a file";
  if (err == ELOOP) return "a link that another user put in a folder others may write; it is not followed";
#endif
  return std::strerror(err);
}

#ifdef _WIN32

std::FILE* openFile(const std::string& utf8Path, const char* mode, std::string* why) {
  std::FILE* f = ::_wfopen(toUtf16(utf8Path).c_str(), toUtf16(mode).c_str());
  if (!f && why) *why = openFailure(errno);
  return f;
}

std::string fileName(const std::string& utf8Path) {
  const std::u8string name =
      std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end())).filename().u8string();
  return std::string(name.begin(), name.end());
}

#else

int openNamedFile(const std::string& path, int flags, unsigned mode, std::string* why) {
  const bool writes = (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0;
  WalkedPath opened = openWalked(path, flags, mode, writes ? PathUse::Write : PathUse::Read);
  if (!opened.fd) {
    if (why) *why = opened.err == ENODEV ? openFailure(ENODEV) : opened.why;
    errno = opened.err;
    return -1;
  }
  return opened.fd.release();
}

std::FILE* openFile(const std::string& utf8Path, const char* mode, std::string* why) {
  const std::string_view m = mode;
  int flags = m.starts_with('r')   ? O_RDONLY
              : m.starts_with('a') ? O_WRONLY | O_CREAT | O_APPEND
                                   : O_WRONLY | O_CREAT | O_TRUNC;
  if (m.find('+') != std::string_view::npos) flags = (flags & ~O_ACCMODE) | O_RDWR;
  const int fd = openNamedFile(utf8Path, flags, 0644, why);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, mode);
  if (!f) {
    const int err = errno;
    ::close(fd);
    errno = err;
    if (why) *why = openFailure(err);
  }
  return f;
}

std::string makePrivateFolder(const std::string& utf8Path, int* err) {
  const WalkedPath made = makeFoldersWalked(utf8Path);
  if (err) *err = made.err;
  return made.fd ? std::string() : utf8Path + ": " + made.why;
}

std::string makePrivateFile(const std::string& utf8Path) {
  const std::string folder = std::filesystem::path(utf8Path).parent_path().string();
  const WalkedPath dir = makeFoldersWalked(folder.empty() ? "." : folder);
  if (!dir.fd) return folder + ": " + dir.why;
  // Tightened only when ours: a folder of the program's own, made looser by
  // an earlier version or a umask of 000.
  UniqueFd open(::openat(dir.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (open && ::fstat(open.get(), &st) == 0 && st.st_uid == ::geteuid() && ::fchmod(open.get(), 0700) != 0)
    return folder + ": " + std::strerror(errno);
  const WalkedPath file = openWalked(utf8Path, O_RDONLY, 0, PathUse::Write);
  if (!file.fd && file.err == ENOENT) return {};  // not written yet: nothing to keep
  if (!file.fd) return utf8Path + ": " + file.why;
  if (::fchmod(file.fd.get(), 0600) != 0) return utf8Path + ": " + std::strerror(errno);
  return {};
}

std::string fileName(const std::string& utf8Path) { return std::filesystem::path(utf8Path).filename().string(); }

#endif

}  // namespace isp
