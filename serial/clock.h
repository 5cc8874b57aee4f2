#pragma once
#include <chrono>
#include <stop_token>

namespace isp {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;
using std::chrono::milliseconds;

// Source of monotonic time. Time-out logic takes one so that tests can drive
// it without waiting.
class MonotonicClock {
 public:
  virtual ~MonotonicClock() = default;
  virtual TimePoint now() = 0;
};

class SteadyClock final : public MonotonicClock {
 public:
  TimePoint now() override;
  static SteadyClock& instance();
};

// A point in time to give up at.
class Deadline {
 public:
  Deadline() = default;
  explicit Deadline(TimePoint at) : at_(at) {}
  static Deadline after(MonotonicClock& clock, Duration d) { return Deadline(clock.now() + d); }

  bool passed(TimePoint now) const { return now >= at_; }
  Duration remaining(TimePoint now) const { return passed(now) ? Duration::zero() : at_ - now; }
  // Whole milliseconds to wait, rounded up: rounding down would wake early
  // and spin on a zero time-out.
  int waitMs(TimePoint now) const;
  Deadline earlier(Deadline other) const { return other.at_ < at_ ? other : *this; }

 private:
  TimePoint at_{};
};

// Sleeps until t, or until a stop is asked for through `stop`; false then.
bool sleepUntil(TimePoint t, const std::stop_token& stop);

}  // namespace isp
