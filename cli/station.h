#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/os.h"
#include "cli/port_job.h"
#include "cli/report.h"

// Station mode: programs each device as it is connected, until a stop is
// asked for. Every watched port has a thread of its own that looks at it
// without opening it until its node is there, then keeps it open and asks
// every poll who is on the line: a device that answers is programmed once,
// and again only after it has gone (its adapter unplugged, or the device
// silent for a while and then answering again).
namespace isp::cli {

// What a station tells of a port each time its state changes, on that
// port's own thread: enough for a window to show a line of ports.
struct PortState {
  enum Kind { Waiting, Identifying, Programming, Completed, Failed, Gone };
  Kind kind = Waiting;
  std::string port;       // as the command line names it
  std::string device{};   // the name the device gave, in UTF-8, nothing escaped
  int records = 0;        // Programming: records sent so far
  int failedRecord = -1;  // Failed: the record whose exchange failed; -1 when none did
  std::int32_t code = 0;  // Failed: that exchange's result code
};

class StationObserver {
 public:
  virtual ~StationObserver() = default;
  virtual void changed(const PortState& state) = 0;
  // A device's transfer ended; recordError is why its line is not in the
  // record, empty when it is.
  virtual void finished(const JobResult& job, const std::string& recordError) {
    (void)job;
    (void)recordError;
  }
};

struct StationSetup {
  std::vector<PortTarget> ports;
  // The port table; tests give one of their own, with nodes they plug and unplug.
  std::function<std::unique_ptr<SerialPlatform>(const PortTarget&)> platformFor = cli::platformFor;
  std::stop_token stop{};
  milliseconds poll{500};
  int silentPolls = 4;  // polls without an answer after which a device has gone
  StationObserver* observer = nullptr;
  bool quiet = false;  // each device's line to the log file alone (a window shows its own)
};

class Station {
 public:
  Station(StationSetup setup, const Options& options, Terminal& terminal, const FirmwareImage& image,
          const ImageFacts& facts, ProductionRecord* record);
  // Watches until stopped; every device attempted, in the order they ended.
  std::vector<JobResult> run();

 private:
  void watch(const PortTarget& target);
  void finished(const JobResult& job);

  StationSetup setup_;
  const Options& options_;
  Terminal& terminal_;
  const FirmwareImage& image_;
  const ImageFacts& facts_;
  ProductionRecord* record_;
  std::mutex mu_;
  std::vector<JobResult> results_;
  int completed_ = 0;
};

}  // namespace isp::cli
