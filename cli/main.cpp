// isp-flash: the firmware transfer from the command line, for scripts and
// production lines. Same engine, same log lines as the dialog.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console_view.h"
#include "file_access.h"
#include "firmware_transfer.h"
#include "messages.h"
#include "options.h"
#include "os.h"
#include "result_codes.h"
#include "tick_schedule.h"

namespace {

using isp::FirmwareTransfer;
using isp::cli::Options;

enum Exit { kCompleted = 0, kNotCompleted = 1, kUsage = 2, kNotIdentified = 3, kFileError = 4 };

void say(const std::string& line) { std::fprintf(stderr, "isp-flash: %s\n", line.c_str()); }

int listPorts() {
  const auto platform = isp::cli::serialPlatform();
  int shown = 0;
  for (int n = isp::kFirstPort; n <= isp::kLastPort; ++n) {
    const isp::Port p = platform->port(n);
    const isp::PortStatus status = platform->check(n);
    // A port that exists but cannot be had is shown with the reason.
    if (status.error == isp::SerialError::NotFound) continue;
    std::string line = p.name + "\t" + p.node;
    if (!p.adapter.empty()) line += "\t" + p.adapter;
    if (!status) line += "\t(" + status.why + ")";
    std::printf("%s\n", line.c_str());
    ++shown;
  }
  if (shown == 0) std::printf("%s\n", std::string(isp::msg::kNoPorts).c_str());
  return kCompleted;
}

// Runs the record timer until the transfer ends or a signal stops it.
int transferLoop(FirmwareTransfer& engine, isp::cli::ConsoleView& view) {
  isp::SteadyClock& clock = isp::SteadyClock::instance();
  const isp::TimePoint start = clock.now();
  isp::cli::TickSchedule ticks(start, isp::milliseconds(view.periodMs()));
  while (view.timerRunning()) {
    if (!isp::cli::stopStatus()) isp::cli::sleepUntil(ticks.next());
    if (isp::cli::stopStatus()) {
      engine.OnStop();
      break;
    }
    if (clock.now() < ticks.next()) continue;  // woken early by a signal
    engine.OnTimer(FirmwareTransfer::kTimerId);
    const isp::TimePoint now = clock.now();
    ticks.ticked(now);
    if (engine.running()) view.showProgress(engine.block() + 1, isp::wire::kRecords, start, now);
  }
  switch (engine.status()) {
    case FirmwareTransfer::Completed:
      view.showProgress(isp::wire::kRecords, isp::wire::kRecords, start, clock.now());
      view.endProgress();
      return kCompleted;
    case FirmwareTransfer::Stopped:
      view.clearProgress();
      return isp::cli::stopStatus();
    default:
      view.clearProgress();
      return kNotCompleted;
  }
}

int transmit(FirmwareTransfer& engine, isp::cli::ConsoleView& view) {
  if (const int stopped = isp::cli::stopStatus()) {
    engine.OnStop();
    return stopped;
  }
  engine.OnTransmit();
  switch (engine.lastTransmit()) {
    case FirmwareTransfer::TransmitOutcome::NotIdentified: return kNotIdentified;
    case FirmwareTransfer::TransmitOutcome::NoImage: return kFileError;
    default: return transferLoop(engine, view);
  }
}

// The firmware file, chosen and checked before the device is touched.
bool chooseFile(FirmwareTransfer& engine, const std::string& path) {
  engine.OnFile(path);
  if (!engine.image().fileOpen()) {
    say("cannot open " + path + ": " + std::strerror(engine.image().openError()));
    return false;
  }
  if (!engine.fileHoldsImage()) {
    say(path + " is not a firmware image: it must hold " + std::to_string(isp::wire::kImageSize) + " bytes");
    return false;
  }
  return true;
}

int run(const Options& o) {
  const bool byPath = o.portNumber == 0;
  const auto platform = isp::cli::serialPlatform(byPath ? o.port : std::string());
  isp::Link link(*platform);
  link.rec.selectedPort = byPath ? isp::kFirstPort : o.portNumber;

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> logFile(nullptr, std::fclose);
  if (!o.logFile.empty()) {
    logFile.reset(isp::openFile(o.logFile, "ab"));
    if (!logFile) {
      say("cannot open the log file " + o.logFile + ": " + std::strerror(errno));
      return kUsage;
    }
  }
  const bool progress = !o.quiet && isp::cli::stderrShowsProgress();
  isp::cli::ConsoleView view(logFile.get(), progress);
  FirmwareTransfer engine(link, view, o.intervalMs);
  isp::cli::installStopHandlers();

  int result;
  if (o.mode == Options::Mode::Identify) {
    result = engine.identifyAndLog() == isp::rc::kOk ? kCompleted : kNotIdentified;
  } else {
    result = chooseFile(engine, o.file) ? transmit(engine, view) : kFileError;
  }
  if (result == kNotIdentified && !link.portStatus()) say(link.portStatus().why);
  if (result == kNotCompleted && engine.failure() != 0) say(isp::msg::recordFailure(engine.failedBlock(), engine.failure(), link.portStatus()));
  engine.OnClose();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = isp::cli::startProgram(argc, argv);
  std::vector<const char*> argp;
  for (const std::string& a : args) argp.push_back(a.c_str());
  std::string error;
  const auto options = isp::cli::parse(static_cast<int>(argp.size()), argp.data(), &error);
  if (!options) {
    std::fprintf(stderr, "isp-flash: %s (see isp-flash --help)\n", error.c_str());
    return kUsage;
  }
  switch (options->mode) {
    case Options::Mode::Help:
      std::fputs(isp::cli::helpText().c_str(), stdout);
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
