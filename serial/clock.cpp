#include "serial/clock.h"

#include <climits>

namespace isp {

TimePoint SteadyClock::now() { return Clock::now(); }

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
