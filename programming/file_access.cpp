#include "file_access.h"

#include <filesystem>

#ifdef _WIN32
#include "utf16.h"
#endif

namespace isp {

#ifdef _WIN32

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
  return ::_wfopen(toUtf16(utf8Path).c_str(), toUtf16(mode).c_str());
}

std::string fileName(const std::string& utf8Path) {
  const std::u8string name = std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end())).filename().u8string();
  return std::string(name.begin(), name.end());
}

#else

std::FILE* openFile(const std::string& utf8Path, const char* mode) { return std::fopen(utf8Path.c_str(), mode); }

std::string fileName(const std::string& utf8Path) { return std::filesystem::path(utf8Path).filename().string(); }

#endif

}  // namespace isp
