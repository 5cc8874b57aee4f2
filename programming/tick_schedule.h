#pragma once
#include "serial/clock.h"

namespace isp {

// Ticks on a fixed grid from the start, so that they never drift. A tick
// that comes late is run at once and the slots it overran are skipped, as
// a window timer never queues more than one tick.
class TickSchedule {
 public:
  TickSchedule(TimePoint start, Duration period) : start_(start), period_(period), next_(start + period) {}

  TimePoint next() const { return next_; }

  // A tick ran and finished at `now`.
  void ticked(TimePoint now) {
    if (period_ <= Duration::zero()) {
      next_ = now;
      return;
    }
    next_ += period_;
    if (next_ <= now) next_ = start_ + ((now - start_) / period_ + 1) * period_;
  }

 private:
  TimePoint start_;
  Duration period_;
  TimePoint next_;
};

}  // namespace isp
