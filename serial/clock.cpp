#include "serial/clock.h"

#include <climits>
#include <condition_variable>
#include <mutex>

namespace isp {

TimePoint SteadyClock::now() { return Clock::now(); }

SteadyClock& SteadyClock::instance() {
  // Never destroyed: threads a program ends at its exit may still ask it.
  static SteadyClock& clock = *new SteadyClock;
  return clock;
}

int Deadline::waitMs(TimePoint now) const {
  const auto left = remaining(now);
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

bool sleepUntil(TimePoint t, const std::stop_token& stop) {
  // Nothing notifies this variable: only the stop, or the time, ends the wait.
  std::mutex mu;
  std::condition_variable_any woken;
  std::unique_lock lock(mu);
  woken.wait_until(lock, stop, t, [] { return false; });
  return !stop.stop_requested();
}

}  // namespace isp
