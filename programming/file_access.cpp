#include "programming/file_access.h"

#include <filesystem>

#ifdef _WIN32
#include "text/utf16.h"
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#endif

namespace isp {

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

// fopen's open, without its waits: a FIFO with nobody at the other end
// would hold open() for ever, and a terminal could become ours.
std::FILE* openFile(const std::string& utf8Path, const char* mode) {
  const std::string_view m = mode;
  int flags = m.starts_with('r')   ? O_RDONLY
              : m.starts_with('a') ? O_WRONLY | O_CREAT | O_APPEND
                                   : O_WRONLY | O_CREAT | O_TRUNC;
  if (m.find('+') != std::string_view::npos) flags = (flags & ~O_ACCMODE) | O_RDWR;
  const int fd = ::open(utf8Path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 ? ::fdopen(fd, mode) : nullptr;
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
