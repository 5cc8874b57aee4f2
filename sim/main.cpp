// isp-sim: a stand-in for the device, on a pseudo-terminal or a serial device.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "simulator.h"

namespace {

isp::sim::Simulator* g_sim = nullptr;

void onSignal(int) {
  if (g_sim) g_sim->requestStop();
}

const char* kUsage =
    "usage: isp-sim [options]\n"
    "Answers as a device in programming mode. Without --device it creates a\n"
    "pseudo-terminal and prints its path on the first line of standard output.\n"
    "\n"
    "  --device PATH         use this serial device instead of a pseudo-terminal\n"
    "  --link PATH           keep a symbolic link at PATH pointing at the pseudo-terminal\n"
    "  --image FILE          write the programmed image (513 x 130 bytes) to FILE\n"
    "  --exit-when-complete  exit once the image is written\n"
    "  --ident TEXT          identification text (default \"ISP SIM-1\")\n"
    "  --baud N              pace every byte as a line at N baud would (10 bits a byte)\n"
    "\n"
    "Faults (K is a record number 0 to 512, or \"id\" for the identification):\n"
    "  --silent              answer nothing\n"
    "  --not-ready           identification text without \"ISP\"\n"
    "  --error-at K[:CODE]   error reply with CODE (default 4)\n"
    "  --bad-checksum-at K   reply checksum off by one\n"
    "  --delay-at K[:MS]     reply MS late (default 400)\n"
    "  --partial-at K        only half of the reply\n"
    "  --oversize-at K       reply length field of 300\n"
    "  --hangup-at K         close the line instead of answering\n"
    "  --reopen-after MS     after a hang-up, a new pseudo-terminal MS later\n";

std::optional<int> parseInt(const std::string& s) {
  try {
    std::size_t used = 0;
    const int v = std::stoi(s, &used);
    if (used == s.size()) return v;
  } catch (...) {
  }
  return std::nullopt;
}

// K or K:V.
bool parseAt(const std::string& arg, int& at, int* value) {
  const std::size_t colon = arg.find(':');
  const std::string k = arg.substr(0, colon);
  if (k == "id") {
    at = isp::sim::kAtIdentify;
  } else {
    const auto v = parseInt(k);
    if (!v || *v < 0 || *v > 512) return false;
    at = *v;
  }
  if (colon == std::string::npos) return true;
  const auto v = value ? parseInt(arg.substr(colon + 1)) : std::nullopt;
  if (!v) return false;
  *value = *v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  isp::sim::SimulatorOptions opt;
  std::string device;
  auto& d = opt.device;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    bool ok = true;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--silent") {
      d.silent = true;
    } else if (a == "--not-ready") {
      d.notReady = true;
    } else if (a == "--exit-when-complete") {
      opt.exitWhenComplete = true;
    } else if (a == "--device" || a == "--link" || a == "--image" || a == "--ident") {
      const auto v = next();
      ok = v.has_value();
      if (ok) (a == "--device" ? device : a == "--link" ? opt.linkPath : a == "--image" ? opt.imagePath : d.identText) = *v;
    } else if (a == "--baud" || a == "--reopen-after") {
      const auto v = next();
      const auto n = v ? parseInt(*v) : std::nullopt;
      ok = n && *n >= 0;
      if (ok) (a == "--baud" ? opt.baud : opt.reopenAfterMs) = *n;
    } else if (a == "--error-at" || a == "--bad-checksum-at" || a == "--delay-at" || a == "--partial-at" ||
               a == "--oversize-at" || a == "--hangup-at") {
      const auto v = next();
      int delayMs = static_cast<int>(d.delay.count());
      if (a == "--error-at") ok = v && parseAt(*v, d.errorAt, &d.errorCode) && d.errorCode >= 0 && d.errorCode < 256;
      else if (a == "--delay-at") ok = v && parseAt(*v, d.delayAt, &delayMs);
      else if (a == "--bad-checksum-at") ok = v && parseAt(*v, d.badChecksumAt, nullptr);
      else if (a == "--partial-at") ok = v && parseAt(*v, d.partialAt, nullptr);
      else if (a == "--oversize-at") ok = v && parseAt(*v, d.oversizeAt, nullptr);
      else ok = v && parseAt(*v, d.hangupAt, nullptr);
      d.delay = std::chrono::milliseconds(delayMs);
    } else {
      ok = false;
    }
    if (!ok) {
      std::cerr << "isp-sim: bad argument: " << a << "\n" << kUsage;
      return 2;
    }
  }

  isp::sim::Simulator sim(opt, [](const std::string& line) { std::cerr << "isp-sim: " << line << std::endl; });
  bool first = true;
  sim.onPath = [&first](const std::string& path) {
    if (!first) std::cerr << "isp-sim: now at " << path << std::endl;
    std::cout << path << std::endl;
    first = false;
  };
  std::string error;
  const bool opened = device.empty() ? sim.openPty(&error) : sim.openDevice(device, &error);
  if (!opened) {
    std::cerr << "isp-sim: " << error << "\n";
    return 1;
  }
  if (!device.empty()) std::cout << device << std::endl;

  g_sim = &sim;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  sim.run();
  g_sim = nullptr;

  const auto faults = sim.faults();
  std::cerr << "isp-sim: " << sim.framesHandled() << " frames, " << sim.recordCount() << " records, "
            << faults.size() << " faults" << std::endl;
  return faults.empty() ? 0 : 1;
}
