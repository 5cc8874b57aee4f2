#pragma once
#include <optional>
#include <string>
#include <vector>

#include "production/interval.h"
#include "serial/port_target.h"
#include "serial/serial_port.h"

namespace isp::cli {

struct Options {
  enum class Mode { Flash, Identify, List, Help, Version } mode = Mode::Flash;
  // Every port of a comma-separated --port, or none with allPorts ("all").
  std::vector<PortTarget> ports;
  bool allPorts = false;
  std::string reportFile;
  bool station = false;  // program each device as it is connected, until stopped
  std::string file;
  int intervalMs = production::kDefaultIntervalMs;
  std::string logFile;
  bool quiet = false;
};

// Parses the command line; nothing on a usage error, with the reason in *error.
std::optional<Options> parse(int argc, const char* const* argv, std::string* error);

// The ports a run takes: its --port list, or what "all" names.
std::vector<PortTarget> portsOf(const Options& options, SerialPlatform& platform);

// The text --help prints.
std::string helpText();
extern const char* const kVersion;

}  // namespace isp::cli
