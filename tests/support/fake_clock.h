#pragma once
#include "clock.h"

namespace isp::test {

// Time that moves only when told to.
class FakeClock final : public MonotonicClock {
 public:
  TimePoint now() override { return now_; }
  void advance(Duration d) { now_ += d; }
  // Milliseconds since the clock was made.
  long elapsedMs() const { return std::chrono::duration_cast<milliseconds>(now_ - TimePoint{}).count(); }

 private:
  TimePoint now_{};
};

}  // namespace isp::test
