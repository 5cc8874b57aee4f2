// The station in process: each device programmed once as it comes, and
// what it tells its observer of each port.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <regex>
#include <thread>

#include "cli/station.h"
#include "programming/sha256.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

using namespace std::chrono_literals;

// What a station tells its observer of each port, in short: one letter a
// state (Waiting, Identifying, Programming, Completed, Failed, Gone), a
// run of Programming as one letter; any record count out of order as '!'.
struct StateLetters final : cli::StationObserver {
  void changed(const cli::PortState& s) override {
    std::lock_guard lock(mu);
    std::string& seen = byPort[s.port];
    if (s.kind == cli::PortState::Programming && s.records <= records[s.port]) seen += '!';
    records[s.port] = s.kind == cli::PortState::Programming ? s.records : 0;
    if (s.kind != cli::PortState::Programming || !seen.ends_with('P')) seen += "WIPCFG"[s.kind];
  }
  std::mutex mu;
  std::map<std::string, std::string> byPort;
  std::map<std::string, int> records;
};

// A station programs each device once as it comes, and again once it has
// gone and come back: its adapter unplugged, or its board swapped on an
// adapter that stays plugged in. Its ports are nodes of the test's own:
// links that the stand-ins put in place and take away, as adapters come and go.
TEST(Station, EachDeviceOnceAsItComes) {
  TempDir dir;
  const auto image = sampleImage();
  cli::Options o;
  o.file = dir.write("fw.isp", image);
  o.intervalMs = 0;
  FirmwareImage loaded;
  std::string lines;
  loaded.choose(o.file, lines);
  ASSERT_TRUE(loaded.makeReady(lines));
  cli::Terminal terminal(false);
  const cli::ImageFacts facts{o.file, image.size(), sha256Hex(image)};
  const std::string a = (dir.path() / "ttyA").string(), b = (dir.path() / "ttyB").string();
  std::stop_source stop;
  StateLetters states;
  cli::Station station({.ports = {{a, 0}, {b, 0}}, .stop = stop.get_token(), .poll = 20ms, .observer = &states}, o,
                       terminal, loaded, facts, nullptr);
  std::vector<cli::JobResult> results;
  testing::internal::CaptureStdout();
  std::thread watching([&] { results = station.run(); });
  // The second device's name would cut a line of fixed length, and start one of its own.
  const std::string name = "\r\n" + std::string(220, 'N');
  const auto plugIn = [&](const std::string& at) {
    auto device = startSimulator({.device = {.identText = "ISP " + (at == b ? name : "SIM-1")}, .linkPath = at});
    EXPECT_TRUE(waitFor([&] { return device->image() == image; })) << at;
    return device;
  };
  auto first = plugIn(a);
  auto second = plugIn(b);
  first.reset();  // unplugged
  first = plugIn(a);
  std::this_thread::sleep_for(300ms);  // answering all along: not programmed again
  // The board on B taken off (silent for more than four polls, each waiting
  // out the reply's time-out) until the station has seen it go, another put on.
  second->arm({.silent = true});
  waitFor([&] {
    std::lock_guard lock(states.mu);
    return states.byPort[b].ends_with('G') || states.byPort[b].ends_with("GW");
  });
  second->arm({.identText = "ISP SIM-2"});
  waitFor([&] {
    std::lock_guard lock(states.mu);
    return std::regex_match(states.byPort[b], std::regex("WIPCG.*C"));
  });
  stop.request_stop();
  watching.join();
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(results.size(), 4u);
  for (const auto& r : results) EXPECT_EQ(r.status, cli::kCompleted) << r.port;
  EXPECT_NE(out.find(b + " \\x0d\\x0a" + std::string(220, 'N') + " completed in "), std::string::npos) << out;
  EXPECT_NE(out.find(b + " SIM-2 completed in "), std::string::npos) << out;
  EXPECT_NE(out.find("  (3 completed, 0 failed)\n"), std::string::npos) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4) << out;
  EXPECT_EQ(second->image(), image);
  // Unplugged and plugged in again between two polls, the port may not be
  // seen waiting in between.
  for (const std::string& port : {a, b})
    EXPECT_TRUE(std::regex_match(states.byPort[port], std::regex("WIPCGW?IPC"))) << states.byPort[port];
}

}  // namespace
}  // namespace isp::test
