#include "clock.h"

#include <climits>
#include <thread>

namespace isp {

TimePoint SteadyClock::now() { return Clock::now(); }

void SteadyClock::sleepUntil(TimePoint t) { std::this_thread::sleep_until(t); }

SteadyClock& SteadyClock::instance() {
  static SteadyClock clock;
  return clock;
}

int Deadline::waitMs(TimePoint now) const {
  const auto left = remaining(now);
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace isp
