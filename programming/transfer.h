#pragma once
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "link/identification.h"
#include "link/link.h"
#include "programming/firmware_image.h"
#include "serial/clock.h"

// The firmware transfer without a window: the identification and the
// records, with the log's words. A dialog drives it one record per timer
// tick; everything else runs it whole.
namespace isp {

// Where the log's text goes, piece by piece; "\r\n" ends a line.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void append(std::string_view piece) = 0;
  // Text that came from the device (its name, in UTF-8), which may hold any
  // character at all.
  virtual void appendDeviceText(std::string_view text) { append(text); }
  void line(std::string_view text);
};

// Asks the device who it is, with the log lines Transmit gives it: the port,
// then the device and whether it is ready, or why it did not answer. A
// caller that has just asked gives the answer it got, which is then logged
// and not asked for again.
Identity identifyAndLog(Link& link, const PortTarget& port, int address, LogSink& log, const Identity* known = nullptr);

// How a device's turn ended: the one word for it in every layer, from the
// transfer core and the main window's rules to a port's job, the station,
// the production record and isp-flash's exit status.
struct Outcome {
  enum Kind { Completed, NotCompleted, NotIdentified, Stopped } kind = NotIdentified;
  int failedRecord = -1;  // NotCompleted: the record whose exchange failed
  std::int32_t code = 0;  // that exchange's result code, or the identification's
  std::string device{};   // the name the device gave, in UTF-8
  Port port{};
  PortStatus portStatus{};  // why the port was lost, when it was
};

// The line a transfer ends with: Completed, NotCompleted or Stopped.
void logEnd(LogSink& log, Outcome::Kind kind);

// The records of one transfer, one exchange a step: the header record, then
// data records 1 to 512. It ends at the last record, at the first exchange
// that fails (logged with its code and record), or when stopped.
class Transfer {
 public:
  Transfer(Link& link, PortTarget port, int address, const FirmwareImage& image, LogSink& log)
      : link_(link), port_(std::move(port)), address_(address), image_(image), log_(log) {}

  void step();
  void stop();

  bool running() const { return running_; }
  // The last record the device took; -1 before the header record.
  int block() const { return block_; }
  // NotCompleted until it completes or is stopped.
  Outcome::Kind status() const { return status_; }
  // The record whose exchange ended the transfer, and its result code;
  // -1 and 0 when none failed.
  int failedRecord() const { return failedRecord_; }
  std::int32_t code() const { return code_; }

 private:
  Link& link_;
  PortTarget port_;
  int address_;
  const FirmwareImage& image_;
  LogSink& log_;
  bool running_ = true;
  int block_ = -1;
  Outcome::Kind status_ = Outcome::NotCompleted;
  int failedRecord_ = -1;
  std::int32_t code_ = 0;
};

// The time between records, the same in every program that takes one:
// this unless the user gives another, 0 for as fast as the device
// acknowledges, at most a minute.
inline constexpr int kDefaultIntervalMs = 250;
inline constexpr int kMaxIntervalMs = 60000;

struct RunSetup {
  Duration period = milliseconds(kDefaultIntervalMs);  // between records
  std::stop_token stop{};
  // The image's own log lines, said once the device is identified, where a
  // dialog says them.
  std::string imageLines{};
  // Records sent so far, after each one.
  std::function<void(int)> progress{};
  int address = 0;
  // The device's answer the caller got just now (a station's poll): the
  // turn's one identification, logged as if asked here.
  const Identity* identified = nullptr;
};

// The identification alone, as a run begins: Completed when the device is in
// programming mode, NotIdentified with the exchange's code, or Stopped.
Outcome identifyOutcome(Link& link, const PortTarget& port, LogSink& log, const RunSetup& setup);

// A whole transfer of a loaded image to the device on COM`port`, paced by
// the steady clock: identification, the records, the end line.
Outcome run(Link& link, const PortTarget& port, const FirmwareImage& image, LogSink& log, const RunSetup& setup);

}  // namespace isp
