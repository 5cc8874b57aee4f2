// The production record: each field of a device's line, and the file it is
// appended to.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "production/daily_record.h"
#include "production/line_setup.h"
#include "production/os.h"
#include "production/record.h"
#include "resources/isp_version.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

using namespace std::chrono_literals;

TEST(ReportLine, EveryFieldItsValue) {
  const auto at = std::chrono::system_clock::from_time_t(1796630400);  // 2026-12-07 08:00:00 UTC
  const production::ImageFacts image{"/srv/fw.isp", 66690, std::string(64, 'a')};
  const std::string head =
      R"({"start":"2026-12-07T08:00:00.000Z","end":"2026-12-07T08:00:39.406Z","port":"COM5",)"
      R"("node":"/dev/ttyUSB0","adapter":{"vendor_id":"0403","product_id":"6001","manufacturer":"Maker","usb_path":"1-1.4"},)";
  const std::string imageFields =
      R"("image":{"path":"/srv/fw.isp","size":66690,"sha256":")" + std::string(64, 'a') + R"("},"interval_ms":250,)";
  const std::string tail = R"("duration_s":39.407,"version":")" ISP_VERSION R"(","host":"bench-3"})";
  // The job, the image's facts if given, and the line between its head and tail.
  const std::tuple<production::JobResult, const production::ImageFacts*, std::string> cases[] = {
      {{.device = "Прибор №1"}, &image, R"("device":"Прибор №1",)" + imageFields + R"("result":"completed",)"},
      {{.device = "SIM-1", .result = Outcome::NotCompleted, .failedRecord = 130, .code = 256},
       &image,
       R"("device":"SIM-1",)" + imageFields + R"("result":"not completed","failure":{"code":256,"record":130},)"},
      {{.device = "SIM-1", .identifyOnly = true}, nullptr, R"("device":"SIM-1","result":"identified",)"},
      // A name that is not UTF-8 is kept, its bad byte replaced.
      {{.device = "A\xff", .result = Outcome::NotIdentified},
       nullptr,
       "\"device\":\"A\uFFFD\",\"result\":\"not identified\","},
  };
  for (auto [job, facts, middle] : cases) {
    job.port = "COM5";
    job.node = "/dev/ttyUSB0";
    job.adapter = {.vendorId = "0403", .productId = "6001", .maker = "Maker", .usbPath = "1-1.4"};
    job.started = at;
    job.ended = at + 39406612us;
    EXPECT_EQ(production::reportLine(job, facts, 250, "bench-3"), head + middle + tail);
  }
}

// One file in two roles is told by its volume and its index together: the
// same inode on another file system is another file, and the numbers cannot
// run into each other.
TEST(FileIdentity, VolumeAndIndexBothCount) {
  const std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, bool> cases[] = {
      {2049, 131, 2049, 131, true}, {2049, 131, 66, 131, false},     {2049, 131, 2049, 132, false},
      {1, 23, 12, 3, false},        {0x1'0000'0001, 5, 1, 5, false},
  };
  for (const auto& [volume, index, otherVolume, otherIndex, one] : cases)
    EXPECT_EQ(production::fileIdentity(volume, index) == production::fileIdentity(otherVolume, otherIndex), one)
        << volume << ":" << index << " and " << otherVolume << ":" << otherIndex;
}

// A record rotated or removed while a station runs: the next line goes to
// the file that is at its path now.
TEST(RecordFile, FollowsItsPath) {
  TempDir dir;
  const std::string path = (dir.path() / "r.jsonl").string(), rotated = path + ".1";
  production::FileError error;
  const auto file = production::RecordFile::open(path, &error);
  ASSERT_TRUE(file && file->append("1\n", &error)) << error.english;
  std::filesystem::rename(path, rotated);
  ASSERT_TRUE(file->append("2\n", &error)) << error.english;
  EXPECT_EQ(contents(rotated) + contents(path), "1\n2\n");
}

// Each line is on the disk before it counts as kept: synced once written
// whole; one whose sync fails is missing, and taken back.
TEST(RecordFile, EachLineSyncedBeforeItCounts) {
  TempDir dir;
  const std::string path = (dir.path() / "r.jsonl").string();
  std::vector<std::string> synced;
  bool fail = false;
  production::FileError error;
  const auto file = production::RecordFile::open(path, &error, [&](int fd) {
    synced.push_back(contents(path));
    return fail ? (errno = EIO, -1) : ::fsync(fd);
  });
  ASSERT_TRUE(file && file->append("1\n", &error)) << error.english;
  fail = true;
  EXPECT_FALSE(file->append("2\n", &error));
  EXPECT_EQ(error.english, path + ": " + std::strerror(EIO));
  EXPECT_EQ(synced, (std::vector<std::string>{"1\n", "1\n2\n"}));
  EXPECT_EQ(contents(path), "1\n");
}

// A line's record of one file a day splits where the day does, whenever
// the line was started: each line in the file of the date it is written on.
TEST(DailyRecordFile, SplitsAtMidnight) {
  TempDir dir;
  auto now = std::chrono::system_clock::now();
  const auto today = now;
  const std::string folder = dir.path().string();
  production::FileError error;
  auto daily = production::DailyRecordFile::open(folder, &error, [&] { return now; });
  ASSERT_TRUE(daily) << error.english;
  EXPECT_TRUE(daily->append("{\"n\":1}\n", &error)) << error.english;
  now += std::chrono::hours(24);
  EXPECT_TRUE(daily->append("{\"n\":2}\n", &error)) << error.english;
  EXPECT_EQ(contents(folder + "/" + production::dailyReportName(today)), "{\"n\":1}\n");
  EXPECT_EQ(contents(folder + "/" + production::dailyReportName(now)), "{\"n\":2}\n");
}

}  // namespace
}  // namespace isp::test
