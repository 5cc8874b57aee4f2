// isp-station as a line runs it, stopped from outside in the middle of a
// transfer: SIGTERM at every shutdown, SIGHUP at logout.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

using namespace std::chrono_literals;

// The window offscreen, its settings and data in `dir`.
void offscreenIn(const TempDir& dir) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
}

// A stop from outside is Stop: the transfer ends with its line in the
// report, the port's lock goes, and the program ends at once with
// 128 + the signal. The device keeps what it was sent.
TEST(StationProgram, AStopFromOutsideIsAStop) {
  for (const int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    const std::string firmware = dir.write("fw.isp", sampleImage()), report = (dir.path() / "made.jsonl").string();
    offscreenIn(dir);
    auto device = startSimulator({.baud = 19200});
    const std::string lock = "/run/lock/LCK.." + device->path().substr(5).replace(3, 1, "_");
    std::chrono::steady_clock::time_point stopped;
    const Finished f = runProgram({ISP_STATION_PATH, "--port", device->path(), "--file", firmware, "--report", report,
                                   "--interval", "0", "--start"},
                                  [&](pid_t pid) {
                                    EXPECT_TRUE(waitFor([&] { return device->recordCount() >= 20; }));
                                    EXPECT_TRUE(std::filesystem::exists(lock)) << lock;
                                    stopped = std::chrono::steady_clock::now();
                                    ::kill(pid, sig);
                                  });
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
    EXPECT_EQ(f.status, 128 + sig) << f.err;
    const std::string made = contents(report);
    EXPECT_EQ(std::count(made.begin(), made.end(), '\n'), 1) << made;
    EXPECT_TRUE(holds(made, "\"result\":\"stopped\""));
    EXPECT_FALSE(std::filesystem::exists(lock));
    EXPECT_GE(device->recordCount(), 20u);
    EXPECT_LT(device->recordCount(), 513u);
  }
}

// What one run keeps for the next, in the settings file, as a station boots
// with --start alone: the report file the user named is used again. (What a
// kept value that cannot be used does is the station control's test.)
TEST(StationProgram, WhatARunKeepsForTheNext) {
  TempDir dir;
  const std::string firmware = dir.write("fw.isp", sampleImage()), report = (dir.path() / "line.jsonl").string();
  const std::string port = (dir.path() / "ttyLine").string();
  offscreenIn(dir);
  const auto lines = [&] {
    const std::string made = std::filesystem::exists(report) ? contents(report) : std::string();
    return std::count(made.begin(), made.end(), '\n');
  };
  // Until `report` has n lines, or a few seconds when it must not grow.
  const auto run = [&](std::vector<std::string> args, long n) {
    auto device = startSimulator({.linkPath = port});
    args.insert(args.begin(), ISP_STATION_PATH);
    args.push_back("--start");
    const Finished f = runProgram(args, [&](pid_t pid) {
      if (n == lines())
        std::this_thread::sleep_for(3s);  // time enough to start, if it would
      else
        waitFor([&] { return lines() >= n; });
      ::kill(pid, SIGTERM);
    });
    EXPECT_EQ(f.status, 128 + SIGTERM) << f.err;
    EXPECT_EQ(lines(), n);
    return device->recordCount();
  };
  EXPECT_EQ(run({"--port", port, "--file", firmware, "--report", report, "--interval", "0"}, 1), 513u);
  EXPECT_EQ(run({}, 2), 513u);
  // Settings in a folder another user owns (root run with their
  // XDG_CONFIG_HOME, as sudo -E keeps it): the window goes on without
  // them, neither programming what they name nor writing them.
  if (::geteuid() != 0) GTEST_SKIP() << "another user's folder needs root to make";
  const std::filesystem::path kept = dir.path() / "isp-programmer" / "isp-station.conf";
  const std::string before = contents(kept);
  ASSERT_EQ(::chown(kept.parent_path().c_str(), 54321, 54321), 0);
  EXPECT_EQ(run({}, 2), 0u);
  EXPECT_EQ(contents(kept), before);
}

}  // namespace
}  // namespace isp::test
