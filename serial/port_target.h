#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A port as a user names it, on any command line or in any window.
namespace isp {

struct PortTarget {
  std::string name{};  // as given: "COM5", "5" or a device path; empty for none
  int number = 0;      // 1 to 20, or 0 for a device path
  PortTarget() = default;
  PortTarget(std::string given, int n) : name(std::move(given)), number(n) {}
  // COMn, as the main window and the port listing count ports; 0 is none.
  static PortTarget com(int n);
  bool operator==(const PortTarget&) const = default;
};

// "all", in lower case alone: every port the system lists now (busy or
// not), and for a station or a window each port that appears later too.
inline constexpr std::string_view kEveryPort = "all";

// COMn, comn or n with n a port number; 0 for a device path; nothing otherwise.
std::optional<int> portNumber(const std::string& port);

// The ports of a --port option: one, a comma-separated list, or none for
// kEveryPort; on a name that is none of these, nothing, with *error saying why.
std::vector<PortTarget> portList(const std::string& list, std::string* error);

}  // namespace isp
