// Whole transfers through isp-flash against the stand-in pacing its bytes at
// 19200 baud, at the normal pace and with --interval 0, side by side with
// their floors. A benchmark: it prints figures and asserts nothing.
//
//   transfer_bench [--fast-only]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "link/protocol.h"
#include "programs/command_line.h"
#include "programs/machine.h"
#include "sim/simulator.h"
#include "sim/stand_in.h"
#include "tests/support/child_process.h"

namespace {

using isp::wire::kRecords;
constexpr double kBytesPerSecond = 19200.0 / 10.0;
// A record frame, its acknowledgement, and the identification exchange.
constexpr double kLineLimitSeconds =
    (kRecords * (isp::wire::kRecordSize + 2.0 * isp::wire::kOverhead) + 8.0 + 17.0) / kBytesPerSecond;
constexpr double kPaceFloorSeconds = kRecords * 0.250;

struct Run {
  double wall = 0, cpu = 0;
  long rssKb = 0;
  int status = -1;
  bool imageMatches = false;
};

// One isp-flash programming `ports` stand-ins at once, each on its own line.
Run transfer(const std::string& firmware, const std::vector<std::uint8_t>& image, int intervalMs, int ports = 1) {
  isp::sim::SimulatorOptions o;
  o.baud = 19200;
  std::vector<std::unique_ptr<isp::sim::Simulator>> sims;
  std::string list;
  for (int i = 0; i < ports; ++i) {
    sims.push_back(isp::startStandIn("transfer_bench", o));
    list += (i ? "," : "") + sims.back()->path();
  }
  const auto t0 = std::chrono::steady_clock::now();
  const isp::test::Finished flash = isp::test::runProgram(
      {ISP_FLASH_PATH, "--port", list, "--file", firmware, "--interval", std::to_string(intervalMs), "--quiet"});
  Run r;
  r.status = flash.status;
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.cpu = flash.cpuSeconds;
  r.rssKb = flash.maxRssKb;
  r.imageMatches = true;
  for (auto& sim : sims) {
    r.imageMatches = r.imageMatches && sim->image() == image;
    sim->stop();
  }
  return r;
}

void report(const char* what, const Run& r, double floor, const char* floorName) {
  std::printf(
      "%-22s %9.3f s   %-18s %9.3f s   %+6.2f %%   cpu %6.3f s (%5.2f %% of wall)   peak %6ld KiB   exit %d%s\n", what,
      r.wall, floorName, floor, 100.0 * (r.wall - floor) / floor, r.cpu, 100.0 * r.cpu / r.wall, r.rssKb, r.status,
      r.imageMatches ? "" : "   IMAGE MISMATCH");
}

}  // namespace

int main(int argc, char** argv) {
  bool fastOnly = false, ports = false;
  CLI::App app{"Whole transfers of isp-flash against the stand-in paced at 19200 baud.", "transfer_bench"};
  app.add_flag("--fast-only", fastOnly, "only the transfer with --interval 0");
  app.add_flag("--ports", ports, "instead: 1, 4, 8 and 16 ports at once with --interval 0, against one port's time");
  if (const auto exit = isp::parseCommandLine(app, argc, argv)) return *exit;
  isp::printMachine();

  std::vector<std::uint8_t> image(isp::wire::kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + (i >> 7));
  const std::string firmware = "/tmp/isp-bench-" + std::to_string(::getpid()) + ".isp";
  std::ofstream(firmware, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

  if (ports) {
    const Run one = transfer(firmware, image, 0);
    report("1 port", one, one.wall, "one port");
    for (int n : {4, 8, 16}) {
      const std::string what = std::to_string(n) + " ports";
      report(what.c_str(), transfer(firmware, image, 0, n), one.wall, "one port");
    }
    std::remove(firmware.c_str());
    return 0;
  }
  const Run fast = transfer(firmware, image, 0);
  report("--interval 0", fast, kLineLimitSeconds, "line limit");
  if (!fastOnly) {
    const Run normal = transfer(firmware, image, 250);
    report("--interval 250", normal, kPaceFloorSeconds, "513 x 250 ms");
  }
  std::remove(firmware.c_str());
  return 0;
}
