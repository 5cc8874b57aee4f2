// One link and one image, as a station keeps them, with the stand-in in
// process on a pseudo-terminal: many transfers with a fault drawn at random
// before each. Open descriptors and heap in use must be the same at the end
// as after the first cycle, within a margin; every cycle must end, and every
// cycle without a fault must program the image exactly. Exits non-zero if not.
//
//   endurance [--cycles N] [--seed S]
#include <dirent.h>
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "programming/transfer.h"
#include "programs/command_line.h"
#include "serial/posix/serial_posix.h"
#include "sim/simulator.h"
#include "sim/stand_in.h"
#include "tests/support/fixtures.h"

namespace {

// The log of one cycle, shown when the cycle goes wrong.
struct TextLog final : isp::LogSink {
  std::string text;
  void append(std::string_view piece) override { text += piece; }
};

int openDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n - 3;  // ".", ".." and the directory's own descriptor
}

std::size_t heapInUse() { return mallinfo2().uordblks; }

}  // namespace

int main(int argc, char** argv) {
  int cycles = 1000;
  unsigned seed = std::random_device{}();
  CLI::App app{"One link and one image through many transfers with faults.", "endurance"};
  app.add_option("--cycles", cycles, "Transmit cycles")->capture_default_str()->check(CLI::Range(1, 1'000'000));
  app.add_option("--seed", seed, "seed of the faults (default: a random one)");
  if (const auto exit = isp::parseCommandLine(app, argc, argv)) return *exit;
  std::mt19937 random(seed);
  isp::test::TempDir dir;
  const auto image = isp::test::sampleImage();

  isp::sim::SimulatorOptions o{.nice = isp::test::kStandInNice};
  o.linkPath = (dir.path() / "ttyDEV").string();  // a hung-up device comes back here
  o.reopenAfterMs = 0;
  const auto sim = isp::startStandIn("endurance", o);
  isp::sim::Simulator& device = *sim;
  // Locks in a folder of its own: a pseudo-terminal's number is reused the
  // moment another program closes one, a moment before that program's lock
  // in /run/lock goes, and this run opens a new one after every hang-up.
  isp::PosixSerialPlatform platform(isp::PortMap().set(1, o.linkPath), "/sys", dir.path().string());
  isp::Link link(platform);
  isp::FirmwareImage firmware;
  std::string lines;
  firmware.choose(dir.write("fw.isp", image), lines);
  if (!firmware.makeReady(lines)) {
    std::fprintf(stderr, "endurance: %s", lines.c_str());
    return 2;
  }

  int fds = 0, completed = 0, failures = 0;
  std::size_t heap = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    isp::sim::DeviceOptions faults;
    const int k = static_cast<int>(random() % isp::wire::kRecords);
    switch (random() % 6) {
      case 0:
        faults.errorAt = k;
        faults.errorCode = 1 + static_cast<int>(random() % 255);
        break;
      case 1: faults.badChecksumAt = k; break;
      case 2: faults.delayAt = k; break;  // 400 ms late
      case 3: faults.hangupAt = k; break;
      default: break;  // none
    }
    const bool clean = faults.errorAt < 0 && faults.badChecksumAt < 0 && faults.delayAt < 0 && faults.hangupAt < 0;
    device.arm(faults);
    const int lines = device.linesOpened();
    TextLog log;
    const bool done = isp::run(link, isp::PortTarget::com(1), firmware, log, {.period = isp::Duration::zero()}).kind ==
                      isp::Outcome::Completed;
    if (clean && (!done || device.image() != image)) {
      std::printf("endurance: cycle %d (seed %u) went wrong:\n%s%s\n", cycle, seed, log.text.c_str(),
                  link.portStatus().why.c_str());
      return 1;
    }
    done ? ++completed : ++failures;
    // A late reply is out before the next cycle (else it would be read as
    // one of that cycle's), and a hung-up line is back once the stand-in
    // has opened its next one: waited for, however long a loaded machine takes.
    for (int wait = 0; (device.framesAnswered() < device.framesHandled() ||
                        (faults.hangupAt >= 0 && device.linesOpened() == lines)) &&
                       wait < 1000;
         ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (cycle == 0) {
      fds = openDescriptors();
      heap = heapInUse();
    }
  }
  const int fdsEnd = openDescriptors();
  const std::size_t heapEnd = heapInUse();
  std::printf("endurance: %d cycles (seed %u): %d completed, %d ended by their fault\n", cycles, seed, completed,
              failures);
  std::printf("open descriptors after the first cycle %d, at the end %d\n", fds, fdsEnd);
  std::printf("heap in use after the first cycle %zu bytes, at the end %zu bytes\n", heap, heapEnd);
  device.stop();
  const bool ok = fdsEnd <= fds + 1 && heapEnd <= heap + 64 * 1024;
  if (!ok) std::printf("endurance: descriptors or memory grew\n");
  return ok ? 0 : 1;
}
