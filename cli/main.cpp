// isp-flash: the firmware transfer from the command line, for scripts and
// production lines. Same engine, same log lines as the dialog.
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "console_view.h"
#include "firmware_transfer.h"
#include "messages.h"
#include "options.h"
#include "result_codes.h"
#include "serial_posix.h"
#include "tick_schedule.h"

namespace {

using isp::FirmwareTransfer;
using isp::cli::Options;

enum Exit { kCompleted = 0, kNotCompleted = 1, kUsage = 2, kNotIdentified = 3, kFileError = 4, kStopped = 130 };

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

void installSignals() {
  struct sigaction sa{};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a sleep ends early so that Stop is prompt
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// Sleeps until t on the monotonic clock, or until a signal arrives.
void sleepUntil(isp::TimePoint t) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

// Says why a port could not be opened, when the log's "port not open" is
// not enough for the user to act on.
void explainOpenFailure(isp::Link& link, const std::string& node) {
  if (link.rec.openPort != 0) return;
  switch (link.lastOpenError()) {
    case isp::SerialError::Busy:
      std::fprintf(stderr, "isp-flash: %s is in use by another program\n", node.c_str());
      break;
    case isp::SerialError::AccessDenied: {
      std::string owner = "the group that owns it";
      struct stat st{};
      if (stat(node.c_str(), &st) == 0)
        if (const struct group* g = getgrgid(st.st_gid)) owner = std::string("the group '") + g->gr_name + "' that owns it";
      std::fprintf(stderr, "isp-flash: permission denied for %s: the user must be in %s\n", node.c_str(),
                   owner.c_str());
      break;
    }
    default:
      break;
  }
}

int listPorts() {
  isp::PosixSerialPlatform platform;
  isp::Link link(platform);
  link.probe(0);
  for (int n = isp::kFirstPort; n <= isp::kLastPort; ++n)
    if (link.rec.portSlot(n) != 0) std::printf("COM%d\t%s\n", n, platform.systemName(n).c_str());
  if (link.rec.portCount == 0) std::printf("%s\n", std::string(isp::msg::kNoPorts).c_str());
  return kCompleted;
}

// Runs the record timer until the transfer ends or the user stops it.
int transferLoop(FirmwareTransfer& engine, isp::cli::ConsoleView& view) {
  isp::SteadyClock& clock = isp::SteadyClock::instance();
  const isp::TimePoint start = clock.now();
  isp::cli::TickSchedule ticks(start, isp::milliseconds(view.periodMs()));
  while (view.timerRunning()) {
    if (!g_stop) sleepUntil(ticks.next());
    if (g_stop) {
      engine.OnStop();
      break;
    }
    if (clock.now() < ticks.next()) continue;  // woken early by a signal
    engine.OnTimer(FirmwareTransfer::kTimerId);
    const isp::TimePoint now = clock.now();
    ticks.ticked(now);
    if (engine.running()) view.showProgress(engine.block() + 1, isp::FirmwareImage::kRecords, start, now);
  }
  view.clearProgress();
  switch (engine.status()) {
    case FirmwareTransfer::Completed: return kCompleted;
    case FirmwareTransfer::Stopped: return kStopped;
    default: return kNotCompleted;
  }
}

int transmit(FirmwareTransfer& engine, isp::cli::ConsoleView& view) {
  if (g_stop) {
    engine.OnStop();
    return kStopped;
  }
  engine.OnTransmit();
  switch (engine.lastTransmit()) {
    case FirmwareTransfer::TransmitOutcome::NotIdentified: return kNotIdentified;
    case FirmwareTransfer::TransmitOutcome::NoImage: return kFileError;
    default: return transferLoop(engine, view);
  }
}

int run(const Options& o) {
  // A device path stands in for COM1 of a table of its own.
  const bool byPath = o.portNumber == 0;
  const int port = byPath ? 1 : o.portNumber;
  isp::PortMap map = byPath ? isp::PortMap().set(1, o.port) : isp::PortMap::linuxDefault();
  const std::string node = map.path(port);
  isp::PosixSerialPlatform platform(map);
  isp::Link link(platform);
  link.rec.selectedPort = port;

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> logFile(nullptr, std::fclose);
  if (!o.logFile.empty()) {
    logFile.reset(std::fopen(o.logFile.c_str(), "a"));
    if (!logFile) {
      std::fprintf(stderr, "isp-flash: cannot open the log file %s: %s\n", o.logFile.c_str(), std::strerror(errno));
      return kUsage;
    }
  }
  const bool progress = !o.quiet && isatty(STDERR_FILENO);
  isp::cli::ConsoleView view(logFile.get(), progress);
  FirmwareTransfer::Options engineOptions;
  engineOptions.timerPeriodMs = o.intervalMs;
  if (byPath) engineOptions.portName = [&](int) { return o.port; };
  FirmwareTransfer engine(link, view, engineOptions);
  installSignals();

  int result;
  if (o.mode == Options::Mode::Identify) {
    result = engine.identifyAndLog() == isp::rc::kOk ? kCompleted : kNotIdentified;
  } else {
    engine.OnFile(o.file);
    result = engine.image().fileOpen() ? transmit(engine, view) : kFileError;
  }
  if (result == kNotIdentified) explainOpenFailure(link, node);
  engine.OnClose();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = isp::cli::parse(argc, argv, &error);
  if (!options) {
    std::fprintf(stderr, "isp-flash: %s\n\n%s", error.c_str(), isp::cli::kHelp);
    return kUsage;
  }
  switch (options->mode) {
    case Options::Mode::Help:
      std::fputs(isp::cli::kHelp, stdout);
      return 0;
    case Options::Mode::Version:
      std::puts(isp::cli::kVersion);
      return 0;
    case Options::Mode::List:
      return listPorts();
    default:
      return run(*options);
  }
}
