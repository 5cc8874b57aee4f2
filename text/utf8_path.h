#pragma once
#include <filesystem>
#include <string>

// A path held in UTF-8 as the system's path and back, on every system: a
// std::string alone is taken in the ANSI code page on Windows.
namespace isp {

inline std::filesystem::path utf8Path(const std::string& s) { return std::u8string(s.begin(), s.end()); }

inline std::string utf8Of(const std::filesystem::path& p) {
  const std::u8string u = p.u8string();
  return {u.begin(), u.end()};
}

}  // namespace isp
