#pragma once
#include <optional>
#include <string>
#include <vector>

#include "production/interval.h"
#include "production/line_file.h"
#include "production/publisher.h"
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
  std::string traceFile;
  bool json = false;  // --list --json: for scripts  // --trace: every byte on the wire, for whoever must find out why
  bool quiet = false;
  // --line: the engineer's set-up in place of --file, --port, --interval
  // and --report, read by readLine.
  std::string lineFile;
  std::optional<production::LineFile> line;
  // --publish URL and its company: the record sent on to a broker; no url, none.
  production::PublishSetup publish;
};

// Parses the command line; nothing on a usage error, with the reason in *error.
std::optional<Options> parse(int argc, const char* const* argv, std::string* error);

// With --line, the set-up from its file, for a user who cannot change it;
// false, with why in *error, when it is no line for operator mode.
bool readLine(Options& options, std::string* error);

// The ports a run takes: its --port list, or what "all" names.
std::vector<PortTarget> portsOf(const Options& options, SerialPlatform& platform);

// The text --help prints.
std::string helpText();
extern const char* const kVersion;

}  // namespace isp::cli
