#include "production/port_job.h"

#include <memory>
#include <optional>

#include "production/os.h"
#include "programming/messages.h"

namespace isp::production {

std::string resultName(const JobResult& job) {
  switch (job.result) {
    case Outcome::Completed: return job.identifyOnly ? "identified" : "completed";
    case Outcome::NotCompleted: return "not completed";
    case Outcome::NotIdentified: return "not identified";
    case Outcome::Stopped: return "stopped";
  }
  return {};
}

namespace {

// A job whose lines no one reads.
class NoLog final : public LogSink {
 public:
  void append(std::string_view) override {}
};

}  // namespace

std::unique_ptr<SerialPlatform> platformFor(const PortTarget&) { return serialPlatform(); }

std::optional<std::pair<std::string, std::string>> samePortTwice(const std::vector<PortTarget>& ports,
                                                                 const PlatformFor& platformFor) {
  std::vector<std::string> devices;
  for (const PortTarget& t : ports) {
    const std::string node = platformFor(t)->port(t).node;
    devices.push_back(node.empty() ? t.name : deviceIdentity(node));
    for (std::size_t i = 0; i + 1 < devices.size(); ++i)
      if (devices[i] == devices.back()) return std::pair{ports[i].name, t.name};
  }
  return std::nullopt;
}

JobResult runJob(const JobSetup& s) {
  std::unique_ptr<SerialPlatform> platform;
  std::optional<Link> ownLink;
  if (!s.link) {
    platform = s.platformFor(s.target);
    ownLink.emplace(*platform);
  }
  Link& link = s.link ? *s.link : *ownLink;
  NoLog none;
  LogSink& log = s.log ? *s.log : none;

  JobResult r;
  const Port port = link.port(s.target);
  r.port = port.name;
  r.node = port.node;
  r.adapter = port.adapter;
  r.started = std::chrono::system_clock::now();
  r.identifyOnly = !s.image;
  const Outcome out =
      r.identifyOnly ? identifyOutcome(link, s.target, log, s.run) : run(link, s.target, *s.image, log, s.run);
  r.ended = std::chrono::system_clock::now();
  r.device = out.device;
  r.result = out.kind;
  switch (out.kind) {
    case Outcome::Completed:
    case Outcome::Stopped: break;
    case Outcome::NotIdentified:
      r.code = out.code;
      if (!out.portStatus) r.why = out.portStatus.why;
      break;
    case Outcome::NotCompleted:
      r.failedRecord = out.failedRecord;
      r.code = out.code;
      r.why = msg::recordFailure(r.failedRecord, r.code, out.portStatus);
      break;
  }
  return r;
}

}  // namespace isp::production
