#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "serial/clock.h"

// A trace of the wire, for whoever must find out why a board failed: one
// line per event (a port opened with its settings, each request and reply
// in hex with what its header says, a time-out with how long was waited, a
// port closed or gone), each with the milliseconds since the trace began
// and the port:
//     1234.567 COM5 request 00 01 86 00 30 D0 01 ... (138 bytes): ...
// A line is written whole or not at all; one that cannot be written is said
// once and never stops a transfer.
namespace isp {

class Trace {
 public:
  // Writes one line, its "\n" included; false when it could not be written.
  using Write = std::function<bool(std::string_view line)>;
  explicit Trace(Write write, MonotonicClock& clock = SteadyClock::instance());
  // Told once, with why, when a line could not be written.
  std::function<void(const std::string& why)> onLost;

  void say(std::string_view port, std::string_view event);
  // Milliseconds since the trace began.
  double ms() const;
  bool lost() const { return lost_; }

 private:
  Write write_;
  MonotonicClock& clock_;
  TimePoint start_;
  std::mutex mu_;
  std::atomic<bool> lost_ = false;
};

// The program's trace, set once at its start (before any port is opened);
// none when it was not asked for.
Trace* trace();
void setTrace(Trace* trace);
// The program's trace for as long as this lives.
class TraceInstalled {
 public:
  explicit TraceInstalled(Trace* t) { setTrace(t); }
  ~TraceInstalled() { setTrace(nullptr); }
  TraceInstalled(const TraceInstalled&) = delete;
  TraceInstalled& operator=(const TraceInstalled&) = delete;
};

// "00 01 86 00 30 D0 01 ... 5A (138 bytes)": a frame's bytes in hex.
std::string hexBytes(std::span<const std::uint8_t> bytes);
// What a whole frame's header says: its address, length field, command
// bytes and flag, and whether its checksum is right ("checksum 5A right",
// "checksum 5B wrong: the bytes sum to 5A").
std::string frameWords(std::span<const std::uint8_t> frame);

}  // namespace isp
