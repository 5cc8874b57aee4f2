// The Windows time-out meaning on a scripted byte stream and a fake clock:
// when a read ends, what it returns, and when the reply's clock starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <optional>

#include "support/fake_clock.h"
#include "timed_port.h"

namespace isp::test {
namespace {

struct Arrival {
  int atMs;
  int count;
};

// Bytes that arrive at given times; optionally a hang-up; a writer side that
// accepts `writeRoom` bytes and then blocks for good.
class ScriptedChannel final : public ByteChannel {
 public:
  ScriptedChannel(FakeClock& clock, const std::vector<Arrival>& arrivals, std::optional<int> hangupMs = {},
                  std::size_t writeRoom = SIZE_MAX)
      : clock_(clock), hangupMs_(hangupMs.value_or(INT_MAX)), writeRoom_(writeRoom) {
    for (const Arrival& a : arrivals) byteAt_.insert(byteAt_.end(), static_cast<std::size_t>(a.count), a.atMs);
  }

  int waits = 0;

  Wait waitReadable(int ms) override { return wait(ms, byteAt_.empty() ? INT_MAX : byteAt_.front()); }
  Wait waitWritable(int ms) override { return wait(ms, INT_MAX); }

  long readSome(std::span<std::uint8_t> bytes) override {
    std::size_t n = 0;
    for (; n < bytes.size() && !byteAt_.empty() && byteAt_.front() <= now(); ++n) byteAt_.pop_front();
    return n > 0 ? static_cast<long>(n) : hungUp() ? -1 : 0;
  }

  void discardInput() override {}

  long writeSome(std::span<const std::uint8_t> bytes) override {
    if (hungUp()) return -1;
    const std::size_t n = std::min(bytes.size(), writeRoom_);
    writeRoom_ -= n;
    return static_cast<long>(n);
  }

 private:
  long now() const { return clock_.elapsedMs(); }
  bool hungUp() const { return hangupMs_ <= now(); }
  // Until `readyAt` or the hang-up, whichever comes first, for at most ms.
  Wait wait(int ms, long readyAt) {
    ++waits;
    const long event = std::min<long>(readyAt, hangupMs_);
    if (event > now() + ms) {
      clock_.advance(milliseconds(ms));
      return Wait::TimedOut;
    }
    if (event > now()) clock_.advance(milliseconds(event - now()));
    return readyAt <= now() ? Wait::Ready : Wait::HungUp;
  }

  FakeClock& clock_;
  std::deque<int> byteAt_;  // arrival time of each byte still unread
  int hangupMs_;
  std::size_t writeRoom_;
};

struct ReadCase {
  const char* name;
  std::vector<Arrival> arrivals;
  std::optional<int> hangupMs;
  std::size_t want;
  std::size_t count;
  long endMs;
  bool disconnected;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }


class TimedReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TimedReadTest, EndsWhereWindowsWould) {
  const ReadCase& c = GetParam();
  FakeClock clock;
  ScriptedChannel channel(clock, c.arrivals, c.hangupMs);
  std::vector<std::uint8_t> buf(c.want);
  const IoResult r = timedRead(channel, clock, LineSettings{}, buf, clock.now());
  EXPECT_EQ(r.count, c.count);
  EXPECT_EQ(clock.elapsedMs(), c.endMs);
  EXPECT_EQ(r.disconnected, c.disconnected);
  EXPECT_LT(channel.waits, 12) << "a read waits, it does not spin";
}

const ReadCase kReads[] = {
    {"silence", {}, {}, 4, 0, 150, false},
    {"all_at_once", {{10, 4}}, {}, 4, 4, 10, false},
    {"more_than_asked", {{10, 9}}, {}, 4, 4, 10, false},
    {"gap_below_interval", {{10, 2}, {25, 2}}, {}, 4, 4, 25, false},
    {"gap_above_interval", {{10, 2}, {35, 2}}, {}, 4, 2, 30, false},
    {"total_bounds_a_trickle", {{100, 1}, {115, 1}, {130, 1}, {145, 1}, {160, 1}}, {}, 8, 4, 150, false},
    {"first_byte_just_in_time", {{149, 1}}, {}, 4, 1, 150, false},
    {"first_byte_too_late", {{151, 4}}, {}, 4, 0, 150, false},
    {"hang_up_while_waiting", {}, 40, 4, 0, 40, true},
    {"bytes_before_hang_up_are_kept", {{10, 2}}, 12, 4, 2, 12, true},
};

INSTANTIATE_TEST_SUITE_P(Schedules, TimedReadTest, ::testing::ValuesIn(kReads),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TimedWrite, BoundedByFivePerBytePlusFifty) {
  FakeClock clock;
  std::vector<std::uint8_t> frame(8);
  ScriptedChannel stuck(clock, {}, {}, 3);
  const IoResult r = timedWrite(stuck, clock, LineSettings{}, frame);
  EXPECT_EQ(r.count, 3u);
  EXPECT_FALSE(r.disconnected);
  EXPECT_EQ(clock.elapsedMs(), 5 * 8 + 50);

  ScriptedChannel gone(clock, {}, 0);
  EXPECT_TRUE(timedWrite(gone, clock, LineSettings{}, frame).disconnected);
}

// The device answers once it has the whole request, which takes the line
// time of the request; the reply's 150 ms start when the request has left.
TEST(TimedPort, ReadClockStartsWhenTheRequestHasLeft) {
  struct Case {
    std::size_t requestBytes;
    int replyAtMs;
    std::size_t expected;
  };
  // 138 bytes at 19200 baud take 71.875 ms on the wire; 8 bytes take 4.17 ms.
  const Case cases[] = {{138, 215, 4}, {138, 225, 0}, {8, 150, 4}, {8, 160, 0}};
  for (const Case& c : cases) {
    FakeClock clock;
    auto channel = std::make_unique<ScriptedChannel>(clock, std::vector<Arrival>{{c.replyAtMs, 4}});
    TimedPort port(std::move(channel), clock, LineSettings{});
    std::vector<std::uint8_t> request(c.requestBytes), reply(4);
    EXPECT_EQ(port.write(request).count, c.requestBytes);
    EXPECT_EQ(port.read(reply).count, c.expected) << c.requestBytes << " bytes, reply at " << c.replyAtMs;
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
