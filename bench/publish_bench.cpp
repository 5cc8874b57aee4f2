// What publishing the record costs a gang of ports: one isp-flash
// programming N stand-ins at once (--interval 0, each pacing its bytes as a
// 19200-baud line unless told otherwise), with --report alone and with
// --report --publish to a real broker (mosquitto on a loopback port), the
// two runs taken in turn. A benchmark: it prints figures and asserts nothing.
//
//   publish_bench [--ports N] [--runs R] [--unpaced]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/protocol.h"
#include "programs/command_line.h"
#include "programs/machine.h"
#include "sim/simulator.h"
#include "sim/stand_in.h"
#include "tests/support/broker.h"
#include "tests/support/child_process.h"

namespace {

struct Run {
  double wall = 0, cpu = 0;
  int status = -1;
  long lines = 0;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int ports = 64, runs = 3;
  bool unpaced = false;
  CLI::App app{"A gang of ports programmed with the record published to a broker, against the same without.",
               "publish_bench"};
  app.add_option("--ports", ports, "stand-ins at once")->capture_default_str()->check(CLI::Range(1, 127));
  app.add_option("--runs", runs, "runs of each kind, in turn")->capture_default_str()->check(CLI::Range(1, 50));
  app.add_flag("--unpaced", unpaced, "the stand-ins answer at once, not at 19200 baud");
  if (const auto exit = isp::parseCommandLine(app, argc, argv)) return *exit;
  isp::printMachine();

  isp::test::TempDir dir;
  std::vector<std::uint8_t> image(isp::wire::kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + (i >> 7));
  const std::string firmware = dir.write("fw.isp", image);
  isp::sim::SimulatorOptions o;
  if (!unpaced) o.baud = 19200;
  std::vector<std::unique_ptr<isp::sim::Simulator>> sims;
  std::string list;
  for (int i = 0; i < ports; ++i) {
    sims.push_back(isp::startStandIn("publish_bench", o));
    list += (i ? "," : "") + sims.back()->path();
  }
  isp::test::TestBroker broker;
  std::vector<double> plain, published;
  for (int r = 0; r < runs; ++r)
    for (const bool publish : {false, true}) {
      const std::string report = (dir.path() / (publish ? "published.jsonl" : "plain.jsonl")).string();
      std::vector<std::string> args = {ISP_FLASH_PATH, "--port", list,      "--file",   firmware,
                                       "--interval",   "0",      "--quiet", "--report", report};
      if (publish) args.insert(args.end(), {"--publish", broker.url(), "--station-name", "bench"});
      const auto t0 = std::chrono::steady_clock::now();
      const isp::test::Finished f = isp::test::runProgram(args);
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      (publish ? published : plain).push_back(wall);
      std::printf("%-10s run %d: %8.3f s, cpu %6.3f s, exit %d%s\n", publish ? "published" : "report", r + 1, wall,
                  f.cpuSeconds, f.status, f.err.find("wait for the broker") != std::string::npos ? ", LINES LEFT" : "");
    }
  const double a = median(plain), b = median(published);
  std::printf("%d ports, %s, median of %d: report %.3f s, published %.3f s: %+.2f %%\n", ports,
              unpaced ? "unpaced" : "19200 baud", runs, a, b, 100.0 * (b - a) / a);
  for (auto& s : sims) s->stop();
  return 0;
}
