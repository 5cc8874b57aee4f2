#pragma once
#include <optional>
#include <string>

namespace isp::cli {

struct Options {
  enum class Mode { Flash, Identify, List, Help, Version } mode = Mode::Flash;
  std::string port;  // as given
  int portNumber = 0;  // 1 to 20 for COMn or n; 0 when a device path was given
  std::string file;
  int intervalMs = 250;
  std::string logFile;
  bool quiet = false;
};

// Parses the command line; nothing on a usage error, with the reason in *error.
std::optional<Options> parse(int argc, const char* const* argv, std::string* error);

// The text --help prints.
std::string helpText();
extern const char* const kVersion;

}  // namespace isp::cli
