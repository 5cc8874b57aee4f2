#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "cli/console_view.h"
#include "cli/options.h"
#include "link/link.h"
#include "programming/firmware_image.h"

// One port's identification or transfer, on the caller's thread: its own
// platform, link and engine, writing to the run's terminal. A run of several
// ports runs one job per port, each on a thread of its own.
namespace isp::cli {

// kRecordMissing: the devices did as the run hoped, but the report lacks a
// line, or could not be opened and nothing was sent.
enum Exit { kCompleted = 0, kNotCompleted = 1, kUsage = 2, kNotIdentified = 3, kFileError = 4, kRecordMissing = 5 };

struct JobResult {
  std::string port, node, adapter;  // the port's name ("COM5"), device node and adapter
  std::string device;               // the device's name from the identification
  bool identifyOnly = false;        // --identify: success is "identified"
  int status = kCompleted;          // the exit status a run of this port alone would have
  int failedBlock = -1;             // the record whose exchange failed, and its code
  std::int32_t code = 0;
  std::string why;  // more than the log line says, for standard error
  std::chrono::system_clock::time_point started, ended;
};

struct JobSetup {
  PortTarget target;
  const Options* options = nullptr;
  Terminal* terminal = nullptr;
  std::string prefix{};                  // before each log line: "COM5: "
  const FirmwareImage* image = nullptr;  // loaded once for every port; else options->file is chosen here
  // Records sent so far, for a display of the caller's (several ports, a
  // station's observer); without it the job shows its own progress line.
  std::function<void(int)> progress{};
  Link* link = nullptr;  // a link already open on the port (a station's); else one of its own
  bool quiet = false;    // log lines to the log file only
};

// The platform and the port number that stand for a target.
std::unique_ptr<SerialPlatform> platformFor(const PortTarget& target);
int portNumberOf(const PortTarget& target);

JobResult runJob(const JobSetup& setup);

// Why a firmware file cannot be sent, for standard error: it could not be
// opened (err), or it is too short for an image.
std::string fileProblem(const std::string& path, int err);

// "completed", "identified", "not completed", "not identified", "stopped".
std::string resultName(const JobResult& job);

}  // namespace isp::cli
