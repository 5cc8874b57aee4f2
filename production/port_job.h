#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/link.h"
#include "programming/firmware_image.h"
#include "programming/transfer.h"
#include "serial/port_target.h"

// One port's identification or transfer, on the caller's thread: its own
// platform and link (or a station's), on the transfer core, writing to the
// log sink it is given. A run of several ports runs one job per port, each
// on a thread of its own.
namespace isp::production {

struct JobResult {
  std::string port{}, node{};                 // the port's name ("COM5") and device node
  Adapter adapter{};                          // what the system knows of the device behind it
  std::string device{};                       // the device's name from the identification
  bool identifyOnly = false;                  // --identify: success is "identified"
  Outcome::Kind result = Outcome::Completed;  // the core's word for how it ended
  int failedRecord = -1;                      // the record whose exchange failed, and its code
  std::int32_t code = 0;
  std::string why{};  // more than the log line says, for standard error
  std::chrono::system_clock::time_point started{}, ended{};
};

// The platform that opens a target: the one choice of it, which every
// setup below takes by default and a test replaces with a table of its own.
std::unique_ptr<SerialPlatform> platformFor(const PortTarget& target);
using PlatformFor = std::function<std::unique_ptr<SerialPlatform>(const PortTarget&)>;

struct JobSetup {
  PortTarget target;
  LogSink* log = nullptr;  // where the log's lines go; none: nowhere
  // The image, loaded once for every port; none for an identification alone.
  const FirmwareImage* image = nullptr;
  RunSetup run{};        // the pace, the stop, the progress and the image's lines
  Link* link = nullptr;  // a link already open on the port (a station's); else one of its own
  PlatformFor platformFor = production::platformFor;  // for a link of its own
};

JobResult runJob(const JobSetup& setup);

// Two names in one list for one device (a COM name and its node, a link
// and what it names) would run two transfers into it at once: the first
// such pair, when there is one.
std::optional<std::pair<std::string, std::string>> samePortTwice(
    const std::vector<PortTarget>& ports, const PlatformFor& platformFor = production::platformFor);

// "completed", "identified", "not completed", "not identified", "stopped".
std::string resultName(const JobResult& job);

// How many devices' turns ended each way: the one count behind every total.
// A stop is no failure.
struct Tally {
  int completed = 0, failed = 0, stopped = 0;
  void add(Outcome::Kind kind) {
    ++(kind == Outcome::Completed ? completed : kind == Outcome::Stopped ? stopped : failed);
  }
};

}  // namespace isp::production
