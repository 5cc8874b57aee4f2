// Whose lateness it is when a big gang fails: one isp-flash programming N
// stand-ins at once (--interval 0, each pacing its bytes as a 19200-baud
// line) with --trace on, R times, against one port's time. Every reply the
// program did not get whole and in time is told apart: the stand-in's own
// (it logged that reply as sent later than the program waits, measured from
// the request's last byte) or the program's (the stand-in answered in time).
// A benchmark: it prints figures and asserts nothing.
//
//   gang_bench [--ports N] [--runs R] [--stand-in-nice K] [--no-trace]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "link/protocol.h"
#include "programs/command_line.h"
#include "programs/machine.h"
#include "sim/simulator.h"
#include "sim/stand_in.h"
#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"

namespace {

struct Result {
  double wall = 0, cpu = 0, standInCpu = 0;
  int status = -1, failedDevices = 0;
  int standInLate = 0, programMissed = 0;  // replies missed: late from the stand-in, or in time but not read
  std::map<std::string, int> events;       // what the trace said went wrong, by kind
};

Result gang(int ports, int nice, const std::string& firmware, const std::string& trace, bool traced) {
  std::mutex mu;
  std::map<std::size_t, int> late;  // by stand-in: its own late replies
  std::vector<std::unique_ptr<isp::sim::Simulator>> sims;
  std::string list;
  for (int i = 0; i < ports; ++i) {
    isp::sim::SimulatorOptions o;
    o.baud = 19200;
    o.verbose = true;
    o.nice = nice;
    const std::size_t index = static_cast<std::size_t>(i);
    sims.push_back(isp::startStandIn("gang_bench", o, [&mu, &late, index](const std::string& line) {
      if (line.rfind("late reply to ", 0) != 0) return;
      std::lock_guard lock(mu);
      ++late[index];
    }));
    list += (i ? "," : "") + sims.back()->path();
  }
  std::remove(trace.c_str());
  const double cpu0 = isp::processCpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::string> args = {ISP_FLASH_PATH, "--port", list, "--file", firmware, "--interval", "0", "--quiet"};
  if (traced) args.insert(args.end(), {"--trace", trace});
  const isp::test::Finished f = isp::test::runProgram(args);
  Result r;
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.cpu = f.cpuSeconds;
  r.standInCpu = isp::processCpuSeconds() - cpu0;  // the stand-ins run in this process
  r.status = f.status;
  std::map<std::string, std::size_t> indexOf;
  for (std::size_t i = 0; i < sims.size(); ++i) indexOf[sims[i]->path()] = i;
  for (auto& s : sims) s->stop();
  // The trace's faults by port: a missed reply on a port whose stand-in was
  // late is the stand-in's; any other is the program's.
  // Line by line: a big gang's trace is tens of megabytes.
  std::ifstream in(trace);
  std::map<std::string, int> missed;
  for (std::string line; std::getline(in, line);) {
    // "  1234.567 PORT EVENT"
    const std::size_t afterStamp = line.find(' ', line.find_first_not_of(' '));
    if (afterStamp == std::string::npos) continue;
    const std::size_t eventAt = line.find(' ', afterStamp + 1);
    if (eventAt == std::string::npos) continue;
    const std::string port = line.substr(afterStamp + 1, eventAt - afterStamp - 1), event = line.substr(eventAt + 1);
    const char* kind = event.starts_with("no reply")          ? "no reply"
                       : event.starts_with("short reply")     ? "short reply"
                       : event.starts_with("reply of length") ? "reply too long"
                       : event.starts_with("gone")            ? "gone"
                       : event.starts_with("reply after") && event.find(" wrong: ") != std::string::npos
                           ? "checksum wrong"
                           : nullptr;
    if (!kind) continue;
    ++r.events[kind];
    ++missed[port];
  }
  for (const auto& [port, n] : missed) {
    const std::size_t index = indexOf.count(port) ? indexOf[port] : sims.size();
    const int theirs = std::min(n, late.count(index) ? late[index] : 0);
    r.standInLate += theirs;
    r.programMissed += n - theirs;
  }
  r.failedDevices = static_cast<int>(missed.size());
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int ports = 127, runs = 10, nice = -10;
  bool untraced = false;
  CLI::App app{"A big gang of paced stand-ins with the trace on: whose lateness it is.", "gang_bench"};
  app.add_option("--ports", ports, "stand-ins at once")->capture_default_str()->check(CLI::Range(1, 127));
  app.add_option("--runs", runs, "runs of the gang")->capture_default_str()->check(CLI::Range(1, 100));
  app.add_option("--stand-in-nice", nice, "the stand-ins' threads at this nice value (below 0 needs root)")
      ->capture_default_str();
  app.add_flag("--no-trace", untraced, "the same without the trace: what the trace costs (no fault is told then)");
  if (const auto exit = isp::parseCommandLine(app, argc, argv)) return *exit;
  isp::printMachine();
  isp::test::TempDir dir;
  const std::string firmware = dir.write("fw.isp", isp::test::sampleImage(isp::wire::kImageSize));
  const std::string trace = (dir.path() / "gang.trace").string();
  const Result one = gang(1, nice, firmware, trace, !untraced);
  std::printf("1 port: %.3f s, exit %d\n", one.wall, one.status);
  int clean = 0;
  for (int r = 0; r < runs; ++r) {
    const Result g = gang(ports, nice, firmware, trace, !untraced);
    clean += g.failedDevices == 0 && g.status == 0;
    std::string kinds;
    for (const auto& [kind, n] : g.events) kinds += " " + kind + " " + std::to_string(n) + ";";
    std::printf(
        "run %2d: %d ports %.3f s (%.3f x one port), cpu of isp-flash %.2f s, of the stand-ins %.2f s, exit %d, "
        "ports with a missed reply %d: the stand-ins' lateness %d, the program's %d;%s\n",
        r + 1, ports, g.wall, g.wall / one.wall, g.cpu, g.standInCpu, g.status, g.failedDevices, g.standInLate,
        g.programMissed, kinds.c_str());
    std::fflush(stdout);
  }
  std::printf("%d of %d runs without a missed reply\n", clean, runs);
  return 0;
}
