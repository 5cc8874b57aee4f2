// isp-sim: a stand-in for the device, on a pseudo-terminal or a serial device.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
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
    "  --link PATH           keep a symbolic link at PATH pointing at the pseudo-terminal;\n"
    "                        PATH must be absent or an earlier such link. Run through\n"
    "                        sudo, the pseudo-terminal is given to the invoking user.\n"
    "  --image FILE          write the programmed image (513 x 130 bytes) to FILE\n"
    "  --exit-when-complete  exit once the image is written\n"
    "  --ident TEXT          identification text (default \"ISP SIM-1\")\n"
    "  --baud N              pace every byte as a line at N baud would (10 bits a byte)\n"
    "  --verbose             a line on standard error for every frame answered\n"
    "\n"
    "Faults (K is a record number 0 to 512, or \"id\" for the identification;\n"
    "each strikes the first time K comes):\n"
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

// K or K:V, with V in [lo, hi] when given and allowed.
bool parseAt(const std::string& arg, int& at, int* value, int lo = 0, int hi = 0) {
  const std::size_t colon = arg.find(':');
  const std::string k = arg.substr(0, colon);
  if (k == "id") {
    at = isp::sim::kAtIdentify;
  } else {
    const auto v = parseInt(k);
    if (!v || *v < 0 || *v > isp::wire::kDataRecords) return false;
    at = *v;
  }
  if (colon == std::string::npos) return true;
  const auto v = value ? parseInt(arg.substr(colon + 1)) : std::nullopt;
  if (!v || *v < lo || *v > hi) return false;
  *value = *v;
  return true;
}

struct Settings {
  isp::sim::SimulatorOptions sim;
  std::string device;
  int delayMs = 400;
};

// One row an option: its name, and what it does with its value (flags get
// an empty one). False rejects the value.
struct OptionRow {
  const char* name;
  bool takesValue;
  std::function<bool(Settings&, const std::string&)> apply;
};

const OptionRow kOptions[] = {
    {"--device", true, [](Settings& s, const std::string& v) { s.device = v; return true; }},
    {"--link", true, [](Settings& s, const std::string& v) { s.sim.linkPath = v; return true; }},
    {"--image", true, [](Settings& s, const std::string& v) { s.sim.imagePath = v; return true; }},
    {"--exit-when-complete", false, [](Settings& s, const std::string&) { return s.sim.exitWhenComplete = true; }},
    {"--ident", true, [](Settings& s, const std::string& v) { s.sim.device.identText = v; return true; }},
    {"--baud", true,
     [](Settings& s, const std::string& v) {
       const auto n = parseInt(v);
       if (!n || *n < 50 || *n > 4'000'000) return false;
       s.sim.baud = *n;
       return true;
     }},
    {"--reopen-after", true,
     [](Settings& s, const std::string& v) {
       const auto n = parseInt(v);
       if (!n || *n < 0) return false;
       s.sim.reopenAfterMs = *n;
       return true;
     }},
    {"--verbose", false, [](Settings& s, const std::string&) { return s.sim.verbose = true; }},
    {"--silent", false, [](Settings& s, const std::string&) { return s.sim.device.silent = true; }},
    {"--not-ready", false, [](Settings& s, const std::string&) { return s.sim.device.notReady = true; }},
    {"--error-at", true,
     [](Settings& s, const std::string& v) { return parseAt(v, s.sim.device.errorAt, &s.sim.device.errorCode, 0, 255); }},
    {"--bad-checksum-at", true, [](Settings& s, const std::string& v) { return parseAt(v, s.sim.device.badChecksumAt, nullptr); }},
    {"--delay-at", true, [](Settings& s, const std::string& v) { return parseAt(v, s.sim.device.delayAt, &s.delayMs, 0, 600'000); }},
    {"--partial-at", true, [](Settings& s, const std::string& v) { return parseAt(v, s.sim.device.partialAt, nullptr); }},
    {"--oversize-at", true, [](Settings& s, const std::string& v) { return parseAt(v, s.sim.device.oversizeAt, nullptr); }},
    {"--hangup-at", true, [](Settings& s, const std::string& v) { return parseAt(v, s.sim.device.hangupAt, nullptr); }},
};

// Run through sudo, the pseudo-terminal goes to the user who ran sudo.
void ownerFromSudo(isp::sim::SimulatorOptions& o) {
  const char* uid = std::getenv("SUDO_UID");
  const char* gid = std::getenv("SUDO_GID");
  if (::geteuid() != 0 || !uid) return;
  o.ownerUid = parseInt(uid).value_or(-1);
  o.ownerGid = gid ? parseInt(gid).value_or(-1) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    const OptionRow* row = nullptr;
    for (const OptionRow& r : kOptions)
      if (a == r.name) row = &r;
    std::string value;
    if (row && row->takesValue && i + 1 < argc) value = argv[++i];
    if (!row || (row->takesValue && value.empty()) || !row->apply(s, value)) {
      std::cerr << "isp-sim: bad argument: " << a << (value.empty() ? "" : " " + value) << " (see isp-sim --help)\n";
      return 2;
    }
  }
  s.sim.device.delay = std::chrono::milliseconds(s.delayMs);
  ownerFromSudo(s.sim);

  isp::sim::Simulator sim(s.sim, [](const std::string& line) { std::cerr << "isp-sim: " << line << std::endl; });
  bool first = true;
  sim.onPath = [&first](const std::string& path) {
    if (!first) std::cerr << "isp-sim: now at " << path << std::endl;
    std::cout << path << std::endl;
    first = false;
  };
  std::string error;
  const bool opened = s.device.empty() ? sim.openPty(&error) : sim.openDevice(s.device, &error);
  if (!opened) {
    std::cerr << "isp-sim: " << error << "\n";
    return 1;
  }
  if (!s.device.empty()) std::cout << s.device << std::endl;

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
