#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "production/interval.h"
#include "production/os.h"
#include "production/port_job.h"
#include "production/record.h"

// Station mode: programs each device as it is connected, until a stop is
// asked for. Every watched port has a thread of its own that looks at it
// without opening it until its node is there, then keeps it open and asks
// every poll who is on the line. A device is the one already programmed only
// while it answers every poll with the same identification: one poll without
// an answer, or with other words, and whatever answers next is programmed.
// A board swapped on a jig is never taken for the one before it; at worst a
// board is programmed twice.
namespace isp::production {

// Why a port waits, from the cause furthest from the device to the nearest.
enum class WaitReason {
  NotLookedAt,           // not yet looked at
  NoAdapter,             // no node: the adapter is not plugged in
  CannotOpen,            // the node is there but cannot be opened (permission, not a serial port, ...)
  Held,                  // another program holds the port
  NotInProgrammingMode,  // a device answers, but not as one ready to be programmed
  DamagedReplies,        // a device answers, but its replies are damaged or refusals
  NoAnswer,              // the port is open and nothing answers
};

// What a station tells of a port each time its state changes, on that
// port's own thread: enough for a window to show a line of ports.
struct PortState {
  enum Kind { Waiting, Identifying, Programming, Ended, Gone };
  Kind kind = Waiting;
  Outcome::Kind outcome = Outcome::Completed;   // Ended: the core's word for how the device's turn ended
  std::string port{};                           // as the command line names it
  std::string device{};                         // the name the device gave, in UTF-8, nothing escaped
  int records = 0;                              // Programming: records sent so far
  int failedRecord = -1;                        // Ended: the record whose exchange failed; -1 when none did
  std::int32_t code = 0;                        // Ended: that exchange's result code; Waiting: the damaged reply's
  WaitReason reason = WaitReason::NotLookedAt;  // Waiting: why
  // Waiting: what the system said of the port (CannotOpen, Held), or the
  // device's whole text (NotInProgrammingMode), in UTF-8, nothing escaped.
  std::string detail{};
  PortStatus status{};  // Waiting for the port (NoAdapter, CannotOpen, Held): its facts, for words of another language
};

// Why a port waits, in a few English words for isp-flash's station lines.
std::string waitingWords(const PortState& state);

class StationObserver {
 public:
  virtual ~StationObserver() = default;
  virtual void changed(const PortState& state) = 0;
  // A device's transfer ended; recordError is why its line is not in the
  // record, none when it is.
  virtual void finished(const JobResult& job, const FileError& recordError) {
    (void)job;
    (void)recordError;
  }
};

// Where a station says what it does, beside its observer: isp-flash's
// terminal. A window shows its own and gives none.
class StationLines {
 public:
  virtual ~StationLines() = default;
  // A line of the run's log: a port waits, a device ended.
  virtual void line(const std::string& text) = 0;
  // More than the line says.
  virtual void note(const std::string& text) = 0;
};

// An open port is asked who is on the line this often, and a device that
// has had its transfer, while it stays, more often: a poll of it that fails
// is asked again at once (after the reply's 150 ms time-out), and a board
// off its jig for 0.3 s misses both, wherever the gap falls, since a poll
// starts in its first 100 ms. A port without its node is looked at less
// often; an adapter plugged in is seen within half a second.
inline constexpr milliseconds kPollPeriod{250};
inline constexpr milliseconds kStayPeriod{100};
inline constexpr milliseconds kLookPeriod{500};

struct StationSetup {
  std::vector<PortTarget> ports;
  // The port table; tests give one of their own, with nodes they plug and unplug.
  PlatformFor platformFor = production::platformFor;
  std::stop_token stop{};
  milliseconds period{kDefaultIntervalMs};  // between records
  milliseconds poll{kPollPeriod};
  milliseconds stay{kStayPeriod};
  milliseconds look{kLookPeriod};
  StationObserver* observer = nullptr;
  StationLines* lines = nullptr;
  // "all": a port's lines start once its node has been there, so that the
  // table's ports without an adapter do not each say so.
  bool quietUntilThere = false;
  // Where a port's transfer logs its lines; none: nowhere.
  std::function<std::unique_ptr<LogSink>(const PortTarget&)> logFor{};
};

class Station {
 public:
  Station(StationSetup setup, const FirmwareImage& image, const ImageFacts& facts, ProductionRecord* record);
  // Watches until stopped; every device attempted, in the order they ended.
  std::vector<JobResult> run();

 private:
  void watch(const PortTarget& target);
  void finished(const JobResult& job);

  StationSetup setup_;
  const FirmwareImage& image_;
  const ImageFacts& facts_;
  ProductionRecord* record_;
  std::mutex mu_;
  std::vector<JobResult> results_;
  Tally tally_;
};

}  // namespace isp::production
