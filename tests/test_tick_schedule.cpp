// The command line's record clock: ticks on a fixed grid, late ones at once.
#include <gtest/gtest.h>

#include "tick_schedule.h"

namespace isp::test {
namespace {

TEST(TickSchedule, StaysOnItsGrid) {
  struct Case {
    int periodMs;
    std::vector<int> finishedAtMs;  // when each tick's exchange ended
    std::vector<int> nextAtMs;      // when the following tick is due
  };
  const Case cases[] = {
      {250, {251, 502, 760}, {500, 750, 1000}},  // small delays never add up
      {250, {260, 1310}, {500, 1500}},           // a long exchange skips the slots it overran
      {250, {499, 500}, {500, 750}},
      {0, {76, 152}, {76, 152}},                 // no interval: next as soon as acknowledged
  };
  for (const Case& c : cases) {
    const TimePoint t0{};
    cli::TickSchedule s(t0, milliseconds(c.periodMs));
    EXPECT_EQ(s.next(), t0 + milliseconds(c.periodMs));
    for (std::size_t i = 0; i < c.finishedAtMs.size(); ++i) {
      s.ticked(t0 + milliseconds(c.finishedAtMs[i]));
      EXPECT_EQ(s.next(), t0 + milliseconds(c.nextAtMs[i])) << "period " << c.periodMs << ", tick " << i;
    }
  }
}

}  // namespace
}  // namespace isp::test
