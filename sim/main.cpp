// isp-sim: a stand-in for the device, on a pseudo-terminal or a serial device.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "programs/command_line.h"
#include "serial/posix/path_walk.h"
#include "serial/posix/unique_fd.h"
#include "sim/simulator.h"
#include "text/decimal.h"
#include "text/escape.h"

namespace {

isp::sim::Simulator* g_sim = nullptr;

void onSignal(int) {
  if (g_sim) g_sim->requestStop();
}

// Every line on standard error: a path or a name repeated from the command
// line, or the device's text, cannot command the terminal.
void say(const std::string& line) { std::cerr << isp::escapeControls("isp-sim: " + line) << std::endl; }

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
    "  --verbose             a line on standard error for every frame answered, and\n"
    "                        for each reply sent later than the program waits for it\n"
    "  --trace FILE          append every frame taken and answered to FILE, with how\n"
    "                        long after the request's last byte the reply went out\n"
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
  const auto v = isp::parseDecimal(s, 0, std::numeric_limits<int>::max());
  return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
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
  std::string device, trace;
  int delayMs = 400;
};

// The options, on the one parser every program here uses. A fault's record
// is checked as it is read, so that a bad one is refused like any option.
void addOptions(CLI::App& app, Settings& s) {
  isp::sim::SimulatorOptions& o = s.sim;
  isp::sim::DeviceOptions& d = o.device;
  app.set_help_flag("-h,--help");
  app.add_option("--device", s.device);
  app.add_option("--link", o.linkPath);
  app.add_option("--image", o.imagePath);
  app.add_flag("--exit-when-complete", o.exitWhenComplete);
  app.add_flag("--verbose", o.verbose);
  app.add_option("--trace", s.trace);
  app.add_option("--ident", d.identText);
  // Numbers in decimal, as isp-flash takes them: CLI11 would read 010 as 8.
  const auto number = [&app](const char* name, int& to, int lo, int hi) {
    app.add_option_function<std::string>(name, [name, &to, lo, hi](const std::string& v) {
      const auto n = isp::parseDecimal(v, lo, hi);
      if (!n)
        throw CLI::ValidationError(name, "takes a number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                                             " in decimal digits: " + v);
      to = static_cast<int>(*n);
    });
  };
  number("--baud", o.baud, 50, 4'000'000);
  number("--reopen-after", o.reopenAfterMs, 0, std::numeric_limits<int>::max());
  app.add_flag("--silent", d.silent);
  app.add_flag("--not-ready", d.notReady);
  const auto at = [&app](const char* name, std::function<bool(const std::string&)> parse) {
    app.add_option_function<std::string>(name, [name, parse](const std::string& v) {
      if (!parse(v)) throw CLI::ValidationError(name, "bad value " + v);
    });
  };
  at("--error-at", [&](const std::string& v) { return parseAt(v, d.errorAt, &d.errorCode, 0, 255); });
  at("--bad-checksum-at", [&](const std::string& v) { return parseAt(v, d.badChecksumAt, nullptr); });
  at("--delay-at", [&](const std::string& v) { return parseAt(v, d.delayAt, &s.delayMs, 0, 600'000); });
  at("--partial-at", [&](const std::string& v) { return parseAt(v, d.partialAt, nullptr); });
  at("--oversize-at", [&](const std::string& v) { return parseAt(v, d.oversizeAt, nullptr); });
  at("--hangup-at", [&](const std::string& v) { return parseAt(v, d.hangupAt, nullptr); });
}

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
  CLI::App app{"", "isp-sim"};
  addOptions(app, s);
  if (const auto exit = isp::parseCommandLine(app, argc, argv, kUsage)) return *exit;
  s.sim.device.delay = std::chrono::milliseconds(s.delayMs);
  ownerFromSudo(s.sim);

  // The trace file by the rules of every file the user names: the path
  // walked, appended to, 0644.
  std::unique_ptr<isp::Trace> trace;
  if (!s.trace.empty()) {
    isp::WalkedPath file =
        isp::openWalked(s.trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644, isp::PathUse::Write);
    if (!file.fd) {
      say("cannot open the trace file " + s.trace + ": " + file.why);
      return 2;
    }
    auto fd = std::make_shared<isp::UniqueFd>(std::move(file.fd));
    trace = std::make_unique<isp::Trace>([fd](std::string_view line) {
      return ::write(fd->get(), line.data(), line.size()) == static_cast<ssize_t>(line.size());
    });
    trace->onLost = [](const std::string& why) { say("the trace: " + why); };
    s.sim.trace = trace.get();
  }
  isp::sim::Simulator sim(s.sim, say);
  bool first = true;
  sim.onPath = [&first](const std::string& path) {
    if (!first) say("now at " + path);
    std::cout << path << std::endl;
    first = false;
  };
  std::string error;
  const bool opened = s.device.empty() ? sim.openPty(&error) : sim.openDevice(s.device, &error);
  if (!opened) {
    say(error);
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
  say(std::to_string(sim.framesHandled()) + " frames, " + std::to_string(sim.recordCount()) + " records, " +
      std::to_string(faults.size()) + " faults");
  // The image not kept was said when it came; the status says it too.
  if (sim.imageLost()) say("the image was not kept at " + s.sim.imagePath);
  return faults.empty() && !sim.imageLost() ? 0 : 1;
}
