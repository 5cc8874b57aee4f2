#pragma once
#include <optional>
#include <string>
#include <vector>

namespace isp::cli {

// A port as the command line names it.
struct PortTarget {
  std::string name;  // as given: "COM5", "5" or a device path
  int number = 0;    // 1 to 20, or 0 for a device path
  bool operator==(const PortTarget&) const = default;
};

struct Options {
  enum class Mode { Flash, Identify, List, Help, Version } mode = Mode::Flash;
  // Every port of a comma-separated --port, or none with allPorts.
  std::vector<PortTarget> ports;
  bool allPorts = false;
  std::string reportFile;
  bool station = false;  // program each device as it is connected, until stopped
  std::string file;
  int intervalMs = 250;
  std::string logFile;
  bool quiet = false;
};

// COMn, comn or n with n a port number; 0 for a device path; nothing otherwise.
std::optional<int> portNumber(const std::string& port);

// Parses the command line; nothing on a usage error, with the reason in *error.
std::optional<Options> parse(int argc, const char* const* argv, std::string* error);

// --interval's value, the same for every program that takes one:
// milliseconds in decimal, 0 to 60000. Nothing, with the words in *error.
std::optional<int> parseInterval(const std::string& text, std::string* error);

// The text --help prints.
std::string helpText();
extern const char* const kVersion;

}  // namespace isp::cli
