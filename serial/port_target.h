#pragma once
#include <optional>
#include <string>

// A port as a user names it, on any command line or in any window.
namespace isp {

struct PortTarget {
  std::string name;  // as given: "COM5", "5" or a device path
  int number = 0;    // 1 to 20, or 0 for a device path
  bool operator==(const PortTarget&) const = default;
};

// COMn, comn or n with n a port number; 0 for a device path; nothing otherwise.
std::optional<int> portNumber(const std::string& port);

}  // namespace isp
