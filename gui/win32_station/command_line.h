#pragma once
#include <optional>
#include <string>
#include <vector>

#include "gui/win32_station/station_settings.h"

// isp-station.exe's command line, with the meanings it has on Linux:
// --file FILE --port LIST --report FILE --interval MS --start, --help, --version.
namespace isp::win32 {

struct CommandLine {
  bool start = false;
  // When the program ends at once: its status and what it says (help, the
  // version, or what is wrong with the command line).
  std::optional<int> exit;
  std::string message;
};

// args[0] is the program. What is given replaces what `settings` holds.
CommandLine readCommandLine(const std::vector<std::string>& args, StationSettings& settings);

}  // namespace isp::win32
