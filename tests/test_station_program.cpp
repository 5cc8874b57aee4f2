// isp-station as a line runs it, stopped from outside in the middle of a
// transfer: SIGTERM at every shutdown, SIGHUP at logout.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

using namespace std::chrono_literals;

// A stop from outside is Stop: the transfer ends with its line in the
// report, the port's lock goes, and the program ends at once with
// 128 + the signal. The device keeps what it was sent.
TEST(StationProgram, AStopFromOutsideIsAStop) {
  for (const int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    const std::string firmware = dir.write("fw.isp", sampleImage()), report = (dir.path() / "made.jsonl").string();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    auto device = startSimulator({.baud = 19200});
    const std::string lock = "/run/lock/LCK.." + device->path().substr(5).replace(3, 1, "_");
    std::chrono::steady_clock::time_point stopped;
    const Finished f = runProgram({ISP_STATION_PATH, "--port", device->path(), "--file", firmware, "--report", report,
                                   "--interval", "0", "--start"},
                                  [&](pid_t pid) {
                                    waitFor([&] { return device->recordCount() >= 20; });
                                    EXPECT_TRUE(std::filesystem::exists(lock)) << lock;
                                    stopped = std::chrono::steady_clock::now();
                                    ::kill(pid, sig);
                                  });
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
    EXPECT_EQ(f.status, 128 + sig) << f.err;
    const std::string made = contents(report);
    EXPECT_EQ(std::count(made.begin(), made.end(), '\n'), 1) << made;
    EXPECT_NE(made.find("\"result\":\"stopped\""), std::string::npos) << made;
    EXPECT_FALSE(std::filesystem::exists(lock));
    EXPECT_GE(device->recordCount(), 20u);
    EXPECT_LT(device->recordCount(), 513u);
  }
}

}  // namespace
}  // namespace isp::test
