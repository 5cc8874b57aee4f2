#include "cli/station.h"

#include <cstdio>
#include <optional>
#include <thread>

#include "cli/os.h"
#include "link/identification.h"
#include "link/result_codes.h"
#include "programming/messages.h"

namespace isp::cli {

Station::Station(StationSetup setup, const Options& options, Terminal& terminal, const FirmwareImage& image,
                 const ImageFacts& facts, ProductionRecord* record)
    : setup_(std::move(setup)), options_(options), terminal_(terminal), image_(image), facts_(facts), record_(record) {}

std::vector<JobResult> Station::run() {
  std::vector<std::thread> watchers;
  for (const PortTarget& t : setup_.ports) watchers.emplace_back([this, t] { watch(t); });
  for (std::thread& w : watchers) w.join();
  return results_;
}

namespace {

// The wait a failed poll stands for: the port's own status when it could
// not be had, else what the identification got.
PortState waitingFor(const PortStatus& port, const Identity& id) {
  PortState w;
  if (!port) {
    w.detail = port.why;
    switch (port.error) {
      case SerialError::NotFound:
      case SerialError::Unplugged: w.reason = WaitReason::NoAdapter; break;
      case SerialError::Busy: w.reason = WaitReason::Held; break;
      case SerialError::Disconnected: w.reason = WaitReason::NoAnswer; break;
      default: w.reason = WaitReason::CannotOpen; break;
    }
    return w;
  }
  switch (id.code) {
    case rc::kNoReply: w.reason = WaitReason::NoAnswer; break;
    case rc::kNotInProgrammingMode:
      w.reason = WaitReason::NotInProgrammingMode;
      w.detail = msg::fromCp1251(id.text);
      break;
    default:
      w.reason = WaitReason::DamagedReplies;
      w.code = id.code;
      break;
  }
  return w;
}

}  // namespace

std::string waitingWords(const PortState& s) {
  switch (s.reason) {
    case WaitReason::NoAdapter: return "no adapter" + (s.detail.empty() ? "" : " (" + s.detail + ")");
    case WaitReason::CannotOpen: return "the port cannot be opened: " + s.detail;
    case WaitReason::Held: return "held by another program: " + s.detail;
    case WaitReason::NotInProgrammingMode:
      return "a device answers but is not in programming mode: \"" + s.detail + "\"";
    case WaitReason::DamagedReplies: return "the device's replies are damaged (code " + std::to_string(s.code) + ")";
    case WaitReason::NoAnswer: return "nothing answers";
  }
  return {};
}

void Station::watch(const PortTarget& target) {
  const auto platform = setup_.platformFor(target);
  const int n = portNumberOf(target);
  Link link(*platform);
  // The identification of the device that has had its transfer, while it
  // answers every poll with it.
  std::optional<std::string> programmed;
  PortState now{.port = target.name};
  bool told = false;
  const auto tell = [&](PortState::Kind kind) {
    if (told && now.kind == kind && kind != PortState::Programming) return;
    told = true;
    now.kind = kind;
    if (setup_.observer) setup_.observer->changed(now);
  };
  // A port waits for a reason; a change of reason is told, and said once.
  const auto wait = [&](PortState w) {
    if (programmed) tell(PortState::Gone);
    programmed.reset();
    const bool same = told && now.kind == PortState::Waiting && now.reason == w.reason && now.detail == w.detail &&
                      now.code == w.code;
    if (same) return;
    w.port = target.name;
    now = std::move(w);
    told = true;
    if (setup_.observer) setup_.observer->changed(now);
    // Whole, and the system's or device's words cannot start a line of their own.
    terminal_.line(msg::escapeControls(target.name + " waiting: " + waitingWords(now)), !setup_.quiet);
  };
  SteadyClock& clock = SteadyClock::instance();
  for (TimePoint next = clock.now(); !setup_.stop.stop_requested(); sleepUntil(next, setup_.stop)) {
    const TimePoint polled = clock.now();
    next = polled + setup_.poll;
    // Until it is open, the port is only looked at: an open raises DTR and RTS.
    if (link.openPort() == 0) {
      if (const PortStatus status = platform->check(n); !status) {
        wait(waitingFor(status, {}));
        next = polled + setup_.look;
        continue;
      }
    }
    const Identity id = identify(link, n, 0);
    if (id.code != rc::kOk) {
      if (setup_.stop.stop_requested()) break;  // asked while it waited for the reply
      wait(waitingFor(link.portStatus(), id));
      continue;
    }
    if (programmed == id.text) continue;    // the same device, still there
    if (programmed) tell(PortState::Gone);  // another answered in its place
    now = {.kind = now.kind, .port = target.name, .device = msg::fromCp1251(id.name)};
    tell(PortState::Identifying);
    const JobResult job = runJob({.target = target,
                                  .terminal = terminal_,
                                  .prefix = target.name + ": ",
                                  .image = &image_,
                                  .run = {.period = milliseconds(options_.intervalMs),
                                          .stop = setup_.stop,
                                          .progress =
                                              [&](int records) {
                                                now.records = records;
                                                tell(PortState::Programming);
                                              }},
                                  .link = &link,
                                  .quiet = true});
    now.failedRecord = job.failedBlock;
    now.code = job.code;
    tell(job.status == kCompleted ? PortState::Completed : PortState::Failed);
    finished(job);
    programmed = id.text;
  }
}

void Station::finished(const JobResult& job) {
  std::lock_guard lock(mu_);
  results_.push_back(job);
  if (job.status == kCompleted) ++completed_;
  const int failed = static_cast<int>(results_.size()) - completed_;
  char took[64];
  std::snprintf(took, sizeof took, " in %.1f s  (%d completed, %d failed)",
                std::chrono::duration<double>(job.ended - job.started).count(), completed_, failed);
  // Whole, however long the name, and the name cannot start a line of its own.
  terminal_.line(job.port + " " + msg::escapeControls(job.device) + " " + resultName(job) + took, !setup_.quiet);
  if (!job.why.empty() && !setup_.quiet) terminal_.note(job.port + ": " + job.why);
  std::string error;
  if (record_ && !record_->append(job, &facts_, options_.intervalMs, &error) && !setup_.quiet)
    terminal_.note("the report: " + error);
  if (setup_.observer) setup_.observer->finished(job, error);
}

}  // namespace isp::cli
