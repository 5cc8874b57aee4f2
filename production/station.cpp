#include "production/station.h"

#include <cstdio>
#include <optional>
#include <thread>

#include "link/identification.h"
#include "link/result_codes.h"
#include "production/os.h"
#include "programming/messages.h"

namespace isp::production {

Station::Station(StationSetup setup, const FirmwareImage& image, const ImageFacts& facts, ProductionRecord* record)
    : setup_(std::move(setup)), image_(image), facts_(facts), record_(record) {}

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
    w.status = port;
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
    case WaitReason::NotLookedAt: return "not looked at yet";
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
  Link link(*platform);
  // The identification of the device that has had its transfer, while it
  // answers every poll with it.
  std::optional<std::string> programmed;
  bool attempted = false;  // a device has had its transfer here and has not been seen to go
  PortState now{.port = target.name};
  bool told = false;
  // Whether the port's node has been there: until then a port of "all" says nothing.
  bool seen = !setup_.quietUntilThere;
  const auto tell = [&](PortState::Kind kind) {
    if (told && now.kind == kind && kind != PortState::Programming) return;
    told = true;
    now.kind = kind;
    if (setup_.observer) setup_.observer->changed(now);
  };
  // A port waits for a reason; a change of reason is told, and said once.
  const auto wait = [&](PortState w) {
    if (attempted) tell(PortState::Gone);
    attempted = false;
    programmed.reset();
    // Said again only when what would be said changes: an adapter gone is
    // "no adapter" whether the hang-up or the missing node told it.
    const bool words = w.reason == WaitReason::CannotOpen || w.reason == WaitReason::Held ||
                       w.reason == WaitReason::NotInProgrammingMode;
    const bool same = told && now.kind == PortState::Waiting && now.reason == w.reason &&
                      (!words || now.detail == w.detail) && now.code == w.code;
    if (same) return;
    w.port = target.name;
    now = std::move(w);
    told = true;
    if (setup_.observer) setup_.observer->changed(now);
    // Whole, and the system's or device's words cannot start a line of their own.
    if (setup_.lines && seen) setup_.lines->line(msg::escapeControls(target.name + " waiting: " + waitingWords(now)));
  };
  SteadyClock& clock = SteadyClock::instance();
  for (TimePoint next = clock.now(); !setup_.stop.stop_requested(); sleepUntil(next, setup_.stop)) {
    const TimePoint polled = clock.now();
    next = polled + (attempted ? setup_.stay : setup_.poll);
    // Until it is open, the port is only looked at: an open raises DTR and RTS.
    if (!link.isOpen()) {
      const PortStatus status = platform->check(target);
      seen = seen || status.error != SerialError::NotFound;
      if (!status) {
        wait(waitingFor(status, {}));
        next = polled + setup_.look;
        continue;
      }
    }
    Identity id = identify(link, target, 0);
    // A device that has had its transfer is asked again at once when a poll
    // gets no reply or a damaged one: noise on the line is not a new board.
    // Silence on both, or other words, is; with the poll's period that holds
    // for any board off its jig for 0.3 s.
    if (attempted && (id.code == rc::kNoReply || id.code == rc::kBadReply) && link.isOpen() &&
        !setup_.stop.stop_requested())
      id = identify(link, target, 0);
    if (id.code != rc::kOk) {
      if (setup_.stop.stop_requested()) break;  // asked while it waited for the reply
      wait(waitingFor(link.portStatus(), id));
      continue;
    }
    if (programmed == id.text) continue;   // the same device, still there
    if (attempted) tell(PortState::Gone);  // another answered in its place
    now = {.kind = now.kind, .port = target.name, .device = msg::fromCp1251(id.name)};
    tell(PortState::Identifying);
    const std::unique_ptr<LogSink> log = setup_.logFor ? setup_.logFor(target) : nullptr;
    const JobResult job = runJob({.target = target,
                                  .log = log.get(),
                                  .image = &image_,
                                  .run = {.period = setup_.period,
                                          .stop = setup_.stop,
                                          .progress =
                                              [&](int records) {
                                                now.records = records;
                                                tell(PortState::Programming);
                                              },
                                          // The poll that found it is the turn's identification:
                                          // the tile, the line and the record name one answer.
                                          .identified = &id},
                                  .link = &link});
    now.outcome = job.result;
    now.failedRecord = job.failedRecord;
    now.code = job.code;
    tell(PortState::Ended);
    finished(job);
    // A transfer whose device stopped answering proves nothing of what
    // answers next: it is programmed, even under the same name.
    attempted = true;
    if (job.code != rc::kNoReply && link.isOpen()) programmed = id.text;
  }
}

void Station::finished(const JobResult& job) {
  std::lock_guard lock(mu_);
  results_.push_back(job);
  tally_.add(job.result);
  char took[96];
  // A stop is no failure; it is counted only once there is one.
  std::snprintf(took, sizeof took, " in %.1f s  (%d completed, %d failed%s)",
                std::chrono::duration<double>(job.ended - job.started).count(), tally_.completed, tally_.failed,
                tally_.stopped ? (", " + std::to_string(tally_.stopped) + " stopped").c_str() : "");
  // Whole, however long the name, and the name cannot start a line of its own.
  if (setup_.lines) setup_.lines->line(job.port + " " + msg::escapeControls(job.device) + " " + resultName(job) + took);
  if (!job.why.empty() && setup_.lines) setup_.lines->note(job.port + ": " + job.why);
  const FileError error =
      appendLine(record_, job, &facts_, static_cast<int>(setup_.period.count()), [this](const std::string& why) {
        if (setup_.lines) setup_.lines->note(why);
      });
  if (setup_.observer) setup_.observer->finished(job, error);
}

}  // namespace isp::production
