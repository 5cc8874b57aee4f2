#include "cli/station.h"

#include <cstdio>
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

void Station::watch(const PortTarget& target) {
  const auto platform = setup_.platformFor(target);
  const int n = portNumberOf(target);
  Link link(*platform);
  bool programmed = false;  // the device on the line has had its transfer
  int silent = 0;
  PortState now{.port = target.name};
  const auto tell = [&](PortState::Kind kind) {
    if (now.kind == kind && kind != PortState::Programming) return;
    now.kind = kind;
    if (setup_.observer) setup_.observer->changed(now);
  };
  const auto gone = [&] {
    if (programmed) tell(PortState::Gone);
    programmed = false;
    now = {.kind = now.kind, .port = target.name};
  };
  if (setup_.observer) setup_.observer->changed(now);  // waiting, to begin with
  SteadyClock& clock = SteadyClock::instance();
  for (TimePoint next = clock.now(); !setup_.stop.stop_requested(); sleepUntil(next, setup_.stop)) {
    next = clock.now() + setup_.poll;
    // Until it is open, the port is only looked at: an open raises DTR and RTS.
    if (link.openPort() == 0 && !platform->check(n)) {
      gone();
      silent = 0;
      tell(PortState::Waiting);
      continue;
    }
    const Identity id = identify(link, n, 0);
    if (id.code != rc::kOk) {
      // A line that hung up (the link closed it) or a device silent for a
      // while: whatever answers next is another device.
      if (link.openPort() == 0 || ++silent >= setup_.silentPolls) gone();
      if (!programmed) tell(PortState::Waiting);
      continue;
    }
    silent = 0;
    if (programmed) continue;
    now.device = msg::fromCp1251(id.name);
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
    programmed = true;
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
