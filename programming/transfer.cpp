#include "programming/transfer.h"

#include "link/result_codes.h"
#include "programming/messages.h"
#include "programming/tick_schedule.h"

namespace isp {

void LogSink::line(std::string_view text) {
  append(text);
  append(msg::kEol);
}

Identity identifyAndLog(Link& link, const PortTarget& port, int address, LogSink& log, const Identity* known) {
  log.append(msg::kPortLine);
  log.line(link.port(port).name);
  const Identity id = known ? *known : identify(link, port, address);
  if (id.code == rc::kOk || id.code == rc::kNotInProgrammingMode) {
    log.append(msg::kDevice);
    log.appendDeviceText(msg::fromCp1251(id.code == rc::kOk ? id.name : id.text));
    log.line(id.code == rc::kOk ? msg::kInProgrammingMode : msg::kNotReadyForProgramming);
  } else {
    log.line(msg::resultText(id.code));
  }
  return id;
}

void logEnd(LogSink& log, Outcome::Kind kind) {
  switch (kind) {
    case Outcome::Stopped: log.line(msg::kTransferStopped); break;
    case Outcome::Completed: log.line(msg::kProgrammingCompleted); break;
    default: log.line(msg::kProgrammingNotCompleted); break;
  }
}

void Transfer::step() {
  if (!running_) return;
  const int k = block_ + 1;
  const Reply reply = link_.exchange(port_, address_, wire::Request::record(k), image_.record(k));
  if (reply.code != rc::kOk) {
    failedRecord_ = k;
    code_ = reply.code;
    log_.line(msg::recordError(reply.code, k));
    running_ = false;
    return;
  }
  block_ = k;
  if (k == 0) log_.line(msg::kProgrammingStarted);
  if (k == wire::kDataRecords) {
    status_ = Outcome::Completed;
    running_ = false;
  }
}

void Transfer::stop() {
  status_ = Outcome::Stopped;
  running_ = false;
}

Outcome identifyOutcome(Link& link, const PortTarget& port, LogSink& log, const RunSetup& s) {
  Outcome out{.port = link.port(port)};
  const Identity id = identifyAndLog(link, port, s.address, log, s.identified);
  out.device = msg::fromCp1251(id.name);
  if (id.code == rc::kOk) {
    out.kind = Outcome::Completed;
    return out;
  }
  out.code = id.code;
  out.portStatus = link.portStatus();
  // Stopped while the device was asked: a stop, not a device that did not answer.
  if (s.stop.stop_requested()) out.kind = Outcome::Stopped;
  return out;
}

Outcome run(Link& link, const PortTarget& port, const FirmwareImage& image, LogSink& log, const RunSetup& s) {
  if (s.stop.stop_requested()) {
    logEnd(log, Outcome::Stopped);
    return {.kind = Outcome::Stopped, .port = link.port(port)};
  }
  Outcome out = identifyOutcome(link, port, log, s);
  if (out.kind != Outcome::Completed) return out;
  log.append(s.imageLines);

  Transfer transfer(link, port, s.address, image, log);
  SteadyClock& clock = SteadyClock::instance();
  TickSchedule ticks(clock.now(), s.period);
  while (transfer.running()) {
    if (!sleepUntil(ticks.next(), s.stop)) {
      transfer.stop();
      break;
    }
    transfer.step();
    ticks.ticked(clock.now());
    if (s.progress && transfer.running()) s.progress(transfer.block() + 1);
  }
  logEnd(log, transfer.status());
  // After the last line, so that the progress shown last is the whole.
  if (s.progress && transfer.status() == Outcome::Completed) s.progress(wire::kRecords);
  out.kind = transfer.status();
  if (out.kind == Outcome::NotCompleted) {
    out.failedRecord = transfer.failedRecord();
    out.code = transfer.code();
    out.portStatus = link.portStatus();
  }
  return out;
}

}  // namespace isp
