// The Windows time-out meaning on a scripted byte stream and a fake clock:
// when a read ends, what it returns, and when the reply's clock starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <tuple>

#include "serial/timed_port.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

using Arrivals = std::vector<std::pair<int, int>>;  // {at ms, how many bytes}

// Bytes that arrive at given times, perhaps a hang-up, and a writer side
// that takes `writeRoom` bytes and then blocks for good.
class ScriptedChannel final : public ByteChannel {
 public:
  ScriptedChannel(FakeClock& clock, const Arrivals& arrivals, int hangupMs = INT_MAX, std::size_t writeRoom = SIZE_MAX)
      : clock_(clock), hangupMs_(hangupMs), writeRoom_(writeRoom) {
    for (auto [at, count] : arrivals) byteAt_.insert(byteAt_.end(), static_cast<std::size_t>(count), at);
  }

  int waits = 0;

  Wait waitReadable(int ms) override { return wait(ms, byteAt_.empty() ? INT_MAX : byteAt_.front()); }
  Wait waitWritable(int ms) override { return wait(ms, INT_MAX); }
  long readSome(std::span<std::uint8_t> bytes) override {
    std::size_t n = 0;
    for (; n < bytes.size() && !byteAt_.empty() && byteAt_.front() <= now(); ++n) byteAt_.pop_front();
    return n > 0 ? static_cast<long>(n) : hungUp() ? -1 : 0;
  }
  long writeSome(std::span<const std::uint8_t> bytes) override {
    if (hungUp()) return -1;
    const std::size_t n = std::min(bytes.size(), writeRoom_);
    writeRoom_ -= n;
    return static_cast<long>(n);
  }
  void discardInput() override {}

 private:
  long now() const { return clock_.elapsedMs(); }
  bool hungUp() const { return hangupMs_ <= now(); }
  // Until `readyAt` or the hang-up, whichever comes first, for at most ms.
  Wait wait(int ms, long readyAt) {
    ++waits;
    const long event = std::min<long>(readyAt, hangupMs_);
    clock_.advance(milliseconds(std::clamp(event - now(), 0L, static_cast<long>(ms))));
    if (event > now()) return Wait::TimedOut;
    return readyAt <= now() ? Wait::Ready : Wait::HungUp;
  }

  FakeClock& clock_;
  std::deque<int> byteAt_;  // arrival time of each byte still unread
  int hangupMs_;
  std::size_t writeRoom_;
};

TEST(TimedRead, EndsWhereWindowsWould) {
  // What arrives, how many bytes are asked for, how many come back and when;
  // a read ends disconnected when the line hangs up.
  const std::tuple<const char*, Arrivals, std::size_t, std::size_t, long, int> cases[] = {
      {"silence", {}, 4, 0, 150, INT_MAX},
      {"all_at_once", {{10, 4}}, 4, 4, 10, INT_MAX},
      {"more_than_asked", {{10, 9}}, 4, 4, 10, INT_MAX},
      {"gap_below_interval", {{10, 2}, {25, 2}}, 4, 4, 25, INT_MAX},
      {"gap_above_interval", {{10, 2}, {35, 2}}, 4, 2, 30, INT_MAX},
      {"total_bounds_a_trickle", {{100, 1}, {115, 1}, {130, 1}, {145, 1}, {160, 1}}, 8, 4, 150, INT_MAX},
      {"first_byte_just_in_time", {{149, 1}}, 4, 1, 150, INT_MAX},
      {"first_byte_too_late", {{151, 4}}, 4, 0, 150, INT_MAX},
      {"hang_up_while_waiting", {}, 4, 0, 40, 40},
      {"bytes_before_hang_up_are_kept", {{10, 2}}, 4, 2, 12, 12},
  };
  for (const auto& [name, arrivals, want, count, endMs, hangupMs] : cases) {
    SCOPED_TRACE(name);
    FakeClock clock;
    ScriptedChannel channel(clock, arrivals, hangupMs);
    std::vector<std::uint8_t> buf(want);
    const IoResult r = timedRead(channel, clock, LineSettings{}, buf, clock.now());
    EXPECT_EQ(std::tuple(r.count, clock.elapsedMs(), r.disconnected), std::tuple(count, endMs, hangupMs != INT_MAX));
    EXPECT_LT(channel.waits, 12) << "a read waits, it does not spin";
  }
}

TEST(TimedWrite, BoundedByFivePerBytePlusFifty) {
  FakeClock clock;
  std::vector<std::uint8_t> frame(8);
  ScriptedChannel stuck(clock, {}, INT_MAX, 3);
  const IoResult r = timedWrite(stuck, clock, LineSettings{}, frame);
  EXPECT_EQ(std::tuple(r.count, r.disconnected, clock.elapsedMs()), std::tuple(3u, false, 5 * 8 + 50));

  ScriptedChannel gone(clock, {}, 0);
  EXPECT_TRUE(timedWrite(gone, clock, LineSettings{}, frame).disconnected);
}

// The device answers once it has the whole request, which takes the line
// time of the request; the reply's 150 ms start when the request has left.
// 138 bytes at 19200 baud take 71.875 ms on the wire; 8 bytes take 4.17 ms.
TEST(TimedPort, ReadClockStartsWhenTheRequestHasLeft) {
  // Request bytes, when the reply comes, how much of it is read.
  const std::tuple<std::size_t, int, std::size_t> cases[] = {{138, 215, 4}, {138, 225, 0}, {8, 150, 4}, {8, 160, 0}};
  for (const auto& [requestBytes, replyAtMs, expected] : cases) {
    FakeClock clock;
    TimedPort port(std::make_unique<ScriptedChannel>(clock, Arrivals{{replyAtMs, 4}}), clock, LineSettings{});
    std::vector<std::uint8_t> request(requestBytes), reply(4);
    EXPECT_EQ(port.write(request).count, requestBytes);
    EXPECT_EQ(port.read(reply).count, expected) << requestBytes << " bytes, reply at " << replyAtMs;
  }
}

TEST(Deadline, WaitsRoundUp) {
  const TimePoint t0{};
  const Deadline d(t0 + milliseconds(10));
  EXPECT_EQ(d.waitMs(t0 + std::chrono::microseconds(9001)), 1);
  EXPECT_EQ(d.waitMs(t0 + milliseconds(10)), 0);
  EXPECT_EQ(d.waitMs(t0 + milliseconds(11)), 0);
}

}  // namespace
}  // namespace isp::test
