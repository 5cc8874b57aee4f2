// The transfer core: a run to its end or stopped, its record clock, the
// image's fingerprint and device text made safe for a terminal.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "link/result_codes.h"
#include "programming/messages.h"
#include "programming/sha256.h"
#include "programming/tick_schedule.h"
#include "programming/transfer.h"
#include "serial/posix/serial_posix.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

struct TextLog final : LogSink {
  std::string text;
  void append(std::string_view piece) override { text += piece; }
};

// The sample image, loaded from a file as a transfer takes it.
struct SampleFile {
  TempDir dir;
  FirmwareImage image;
  SampleFile() {
    std::string lines;
    image.choose(dir.write("fw.isp", sampleImage()), lines);
    EXPECT_TRUE(image.makeReady(lines));
  }
};

// A stop wakes the wait for the next record at once: here an hour, which
// only the stop can end. A stop asked before the run sends nothing at all.
TEST(TransferCore, StopEndsTheWait) {
  const SampleFile file;
  const FirmwareImage& image = file.image;
  auto device = startSimulator();
  PosixSerialPlatform platform(PortMap().set(1, device->path()));
  Link link(platform);
  TextLog log;
  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.request_stop();
  });
  EXPECT_EQ(run(link, PortTarget::com(1), image, log, {.period = std::chrono::hours(1), .stop = stop.get_token()}).kind,
            Outcome::Stopped);
  EXPECT_EQ(log.text,
            "Последовательный порт COM1\r\nУстройство SIM-1 в режиме программирования\r\n"
            "Передача остановлена\r\n");
  const int frames = device->framesHandled();
  EXPECT_EQ(run(link, PortTarget::com(1), image, log, {.stop = stop.get_token()}).kind, Outcome::Stopped);
  EXPECT_EQ(device->framesHandled(), frames);
}

// A whole run ends as its device does: completed with every record in it,
// or not completed at the record that failed, with that exchange's code and,
// for a device gone away, why; a device not ready is not identified.
TEST(TransferCore, RunEndsAsTheDeviceDoes) {
  const SampleFile file;
  const FirmwareImage& image = file.image;
  const struct {
    sim::DeviceOptions device;
    Outcome::Kind kind;
    int failedRecord;
    std::int32_t code;
    const char* lastLine;
  } cases[] = {
      {{}, Outcome::Completed, -1, 0, "Программирование завершено"},
      {{.errorAt = 100, .errorCode = 7}, Outcome::NotCompleted, 100, 7, "Программирование не завершено"},
      {{.hangupAt = 50}, Outcome::NotCompleted, 50, rc::kNoReply, "Программирование не завершено"},
      {{.notReady = true}, Outcome::NotIdentified, -1, rc::kNotInProgrammingMode, "не готово к программированию"},
  };
  for (const auto& c : cases) {
    auto device = startSimulator({.device = c.device});
    PosixSerialPlatform platform(PortMap().set(1, device->path()));
    Link link(platform);
    TextLog log;
    int shown = 0;
    const Outcome out =
        run(link, PortTarget::com(1), image, log, {.period = {}, .progress = [&](int k) { shown = k; }});
    EXPECT_EQ(std::tuple(out.kind, out.failedRecord, out.code), std::tuple(c.kind, c.failedRecord, c.code))
        << c.lastLine;
    EXPECT_TRUE(log.text.ends_with(std::string(c.lastLine) + "\r\n")) << log.text;
    if (c.kind == Outcome::Completed) {
      EXPECT_EQ(out.device, "SIM-1");
      EXPECT_EQ(std::pair(shown, device->image()), std::pair(wire::kRecords, sampleImage()));
    }
    if (c.code == rc::kNoReply) {
      EXPECT_FALSE(out.portStatus) << "a device gone away is named";
    }
  }
}

// What a terminal or a line-based file gets of a device's text: every
// control character escaped, every other character as it is.
TEST(TransferCore, DeviceTextForATerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"Прибор №1", "Прибор №1"},
      {"\x1b]0;t\x07\r\n", "\\x1b]0;t\\x07\\x0d\\x0a"},
      {std::string("a\0b", 3) + "\x7f", "a\\x00b\\x7f"},
      {"\xc2\x9b"
       "2J\xc2\x85\xc2\xa0",
       "\\x9b2J\\x85\xc2\xa0"},  // C1 CSI and NEL; no-break space stays
      {"\xc2", "\xc2"},
      {"a\u202e\u2069\u200f\u2011b", "a\\u202e\\u2069\\u200f\u2011b"},  // direction marks; a hyphen stays
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(msg::escapeControls(text), shown) << shown;
}

// SHA-256's own test vectors, one block and two.
TEST(TransferCore, ImageFingerprint) {
  const auto hash = [](std::string_view s) {
    return sha256Hex({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
  };
  EXPECT_EQ(hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// The record clock: ticks on a fixed grid, late ones at once.
TEST(TransferCore, RecordClockStaysOnItsGrid) {
  // The period; when each tick's exchange ended; when the following tick is due.
  const std::tuple<int, std::vector<int>, std::vector<int>> cases[] = {
      {250, {251, 502, 760}, {500, 750, 1000}},  // small delays never add up
      {250, {260, 1310}, {500, 1500}},           // a long exchange skips the slots it overran
      {250, {499, 500}, {500, 750}},
      {0, {76, 152}, {76, 152}},  // no interval: next as soon as acknowledged
  };
  for (const auto& [periodMs, finishedAtMs, nextAtMs] : cases) {
    const TimePoint t0{};
    TickSchedule s(t0, milliseconds(periodMs));
    EXPECT_EQ(s.next(), t0 + milliseconds(periodMs));
    for (std::size_t i = 0; i < finishedAtMs.size(); ++i) {
      s.ticked(t0 + milliseconds(finishedAtMs[i]));
      EXPECT_EQ(s.next(), t0 + milliseconds(nextAtMs[i])) << "period " << periodMs << ", tick " << i;
    }
  }
}

}  // namespace
}  // namespace isp::test
