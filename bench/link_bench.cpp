// Measures the link's own costs on this machine: a frame exchange with a
// silent device, an identification of the stand-in, and a full port probe.
// A benchmark, not a test: it prints figures and asserts nothing.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "link/identification.h"
#include "programs/command_line.h"
#include "programs/machine.h"
#include "serial/posix/serial_posix.h"
#include "sim/pty.h"
#include "sim/simulator.h"
#include "sim/stand_in.h"

namespace {

using Wall = std::chrono::steady_clock;

template <typename F>
void measure(const char* what, int runs, F f) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Wall::now();
    f();
    ms.push_back(std::chrono::duration<double, std::milli>(Wall::now() - t0).count());
  }
  double lo = ms[0], hi = ms[0], sum = 0;
  for (double v : ms) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    sum += v;
  }
  std::printf("%-44s %8.2f ms mean  %8.2f min  %8.2f max  (%d runs)\n", what, sum / runs, lo, hi, runs);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The frame exchange and the port probe, timed.", "link_bench"};
  if (const auto exit = isp::parseCommandLine(app, argc, argv)) return *exit;
  isp::printMachine();

  std::string error;
  isp::sim::Pty silent = isp::sim::openPty(true, &error);
  isp::PosixSerialPlatform silentPlatform(isp::PortMap().set(1, silent.path));
  isp::Link silentLink(silentPlatform);
  const std::array<std::uint8_t, isp::wire::kRecordSize> record{};
  measure("exchange, silent device (8-byte request)", 10,
          [&] { silentLink.exchange(isp::PortTarget::com(1), 0, isp::wire::Request::identify()); });
  measure("exchange, silent device (138-byte record)", 10,
          [&] { silentLink.exchange(isp::PortTarget::com(1), 0, isp::wire::Request::record(1), record); });

  const auto sim = isp::startStandIn("link_bench", {});
  isp::PosixSerialPlatform simPlatform(isp::PortMap().set(2, sim->path()));
  isp::Link simLink(simPlatform);
  measure("identification of the stand-in (no pacing)", 50,
          [&] { isp::identify(simLink, isp::PortTarget::com(2), 0); });
  sim->stop();

  // What the window does when it opens: every port looked at, none opened.
  const auto probe = [](isp::SerialPlatform& platform) {
    int found = 0;
    for (const isp::TablePort& p : isp::comTable(platform)) found += p.status ? 1 : 0;
    return found;
  };
  isp::PosixSerialPlatform defaultPlatform;
  int found = 0;
  measure("full probe COM1-COM20, default table", 10, [&] { found = probe(defaultPlatform); });
  std::printf("  (%d ports present on this machine)\n", found);

  isp::PortMap ptys;
  std::vector<isp::sim::Pty> held;
  for (int n = 1; n <= 20; ++n) {
    held.push_back(isp::sim::openPty(true, &error));
    ptys.set(n, held.back().path);
  }
  isp::PosixSerialPlatform ptyPlatform(ptys);
  measure("full probe COM1-COM20, all 20 present (ptys)", 10, [&] { found = probe(ptyPlatform); });
  return 0;
}
