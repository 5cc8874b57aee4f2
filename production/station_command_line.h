#pragma once
#include <optional>
#include <string>
#include <vector>

#include "production/line_file.h"
#include "production/station_settings.h"

// The station window's command line, the same for every toolkit:
// --file FILE --port LIST --report FILE --interval MS --start, or
// --line FILE --start (operator mode); --help, --version; a value also as
// --file=FILE.
namespace isp::production {

struct StationCommandLine {
  bool start = false;
  // The firmware and the ports both given: a set-up that needs nothing kept.
  bool wholeSetUp = false;
  // Operator mode: the line file read, and locked against the user running
  // the program (else the command line is refused).
  std::optional<LineFile> line{};
  // When the program ends at once: its status and what it says (help or
  // the version for standard output, else why the command line is wrong).
  std::optional<int> exit{};
  std::string message{};
};

// args[0] is the program. What is given replaces what `settings` holds,
// and a kept value's problem with it.
StationCommandLine readStationCommandLine(const std::vector<std::string>& args, KeptSettings& settings);

}  // namespace isp::production
