#include "cli/port_job.h"

#include <cstring>
#include <memory>
#include <optional>

#include "cli/os.h"
#include "cli/tick_schedule.h"
#include "link/result_codes.h"
#include "programming/file_access.h"
#include "programming/firmware_transfer.h"
#include "programming/messages.h"

namespace isp::cli {

namespace {

// Runs the record timer until the transfer ends or a signal stops it.
int transferLoop(FirmwareTransfer& engine, ConsoleView& view, const std::function<void(int)>& shown) {
  SteadyClock& clock = SteadyClock::instance();
  const TimePoint start = clock.now();
  const bool own = !shown;  // the job's own progress line
  const auto progress = [&](int done, TimePoint now) {
    if (!own) {
      shown(done);
    } else {
      const double seconds = std::chrono::duration<double>(now - start).count();
      view.terminal().progress(progressText(done, wire::kRecords, seconds, wire::kRecordSize));
    }
  };
  TickSchedule ticks(start, milliseconds(view.periodMs()));
  while (view.timerRunning()) {
    if (!stopStatus()) sleepUntil(ticks.next());
    if (stopStatus()) {
      engine.OnStop();
      break;
    }
    if (clock.now() < ticks.next()) continue;  // woken early by a signal
    engine.OnTimer(FirmwareTransfer::kTimerId);
    const TimePoint now = clock.now();
    ticks.ticked(now);
    if (engine.running()) progress(engine.block() + 1, now);
  }
  switch (engine.status()) {
    case FirmwareTransfer::Completed:
      progress(wire::kRecords, clock.now());
      if (own) view.terminal().endProgress();
      return kCompleted;
    case FirmwareTransfer::Stopped:
      if (own) view.terminal().clearProgress();
      return stopStatus();
    default:
      if (own) view.terminal().clearProgress();
      return kNotCompleted;
  }
}

int transmit(FirmwareTransfer& engine, ConsoleView& view, const std::function<void(int)>& progress) {
  if (const int stopped = stopStatus()) {
    engine.OnStop();
    return stopped;
  }
  engine.OnTransmit();
  switch (engine.lastTransmit()) {
    case FirmwareTransfer::TransmitOutcome::NotIdentified: return kNotIdentified;
    case FirmwareTransfer::TransmitOutcome::NoImage: return kFileError;
    default: return transferLoop(engine, view, progress);
  }
}

// The firmware file, chosen and checked before the device is touched.
bool chooseFile(FirmwareTransfer& engine, const std::string& path, std::string& why) {
  engine.OnFile(path);
  if (!engine.image().fileOpen()) {
    why = fileProblem(path, engine.image().openError());
    return false;
  }
  if (!engine.fileHoldsImage()) {
    why = fileProblem(path, 0);
    return false;
  }
  return true;
}

}  // namespace

std::string fileProblem(const std::string& path, int err) {
  if (err != 0) return "cannot open " + path + ": " + openFailure(err);
  return path + " is not a firmware image: it must hold " + std::to_string(wire::kImageSize) + " bytes";
}

std::string resultName(const JobResult& job) {
  switch (job.status) {
    case kCompleted: return job.identifyOnly ? "identified" : "completed";
    case kNotCompleted: return "not completed";
    case kNotIdentified: return "not identified";
    case kFileError: return "file not read";
    default: return "stopped";
  }
}

std::unique_ptr<SerialPlatform> platformFor(const PortTarget& target) {
  return serialPlatform(target.number == 0 ? target.name : std::string());
}

int portNumberOf(const PortTarget& target) { return target.number == 0 ? kFirstPort : target.number; }

JobResult runJob(const JobSetup& s) {
  std::unique_ptr<SerialPlatform> platform;
  std::optional<Link> ownLink;
  if (!s.link) {
    platform = platformFor(s.target);
    ownLink.emplace(*platform);
    ownLink->rec.selectedPort = portNumberOf(s.target);
  }
  Link& link = s.link ? *s.link : *ownLink;
  const Options& o = *s.options;
  ConsoleView view(*s.terminal, s.prefix, s.quiet);
  FirmwareTransfer engine(link, view, o.intervalMs, s.image);

  JobResult r;
  const Port port = link.port(link.rec.selectedPort);
  r.port = port.name;
  r.node = port.node;
  r.adapter = port.adapter;
  r.started = std::chrono::system_clock::now();
  r.identifyOnly = o.mode == Options::Mode::Identify;
  if (r.identifyOnly) {
    r.status = engine.identifyAndLog() == rc::kOk ? kCompleted : kNotIdentified;
  } else if (!s.image && !chooseFile(engine, o.file, r.why)) {
    r.status = kFileError;
  } else {
    r.status = transmit(engine, view, s.progress);
  }
  // A stop that came while the device was being asked who it is ends the
  // job as stopped, not as a device that did not answer.
  if (const int stopped = stopStatus(); stopped != 0 && r.status == kNotIdentified) r.status = stopped;
  r.ended = std::chrono::system_clock::now();
  r.device = msg::fromCp1251(link.rec.deviceName);
  if (r.status == kNotIdentified && !link.portStatus()) r.why = link.portStatus().why;
  if (r.status == kNotCompleted && engine.failure() != 0) {
    r.failedBlock = engine.failedBlock();
    r.code = engine.failure();
    r.why = msg::recordFailure(r.failedBlock, r.code, link.portStatus());
  }
  // A station keeps its port for the next device; a job of its own closes it.
  if (!s.link) engine.OnClose();
  return r;
}

}  // namespace isp::cli
