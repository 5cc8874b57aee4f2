#include "production/line_run.h"

#include "production/daily_record.h"
#include "production/os.h"
#include "production/station_settings.h"
#include "production/station_words.h"
#include "production/system_words.h"
#include "programming/messages.h"
#include "serial/port_target.h"

namespace isp::production {

std::unique_ptr<LineRun> LineRun::start(LineRunSetup setup, std::shared_ptr<const ImageFile> image, std::string* why) {
  if (!image) return *why = words::kNoFile, nullptr;
  if (!image->whole) return *why = factsWords(*image), nullptr;
  if (setup.ports.empty()) return *why = words::kNoPort, nullptr;
  std::vector<PortTarget> targets;
  for (const PortEntry& p : setup.ports) targets.push_back({p.port, portNumber(p.port).value_or(0)});
  if (const auto twice = samePortTwice(targets, setup.platformFor))
    return *why = std::string(words::kSamePortTwice) + twice->first + " и " + twice->second, nullptr;
  const bool daily = !setup.reportFolder.empty();
  const std::string report = daily ? dayFileIn(setup.reportFolder) : setup.report;
  // The record appended to the firmware, by whatever name or link.
  if (fileIdentity(report) == fileIdentity(image->facts.path))
    return *why = std::string(words::kReportIsFirmware) + msg::escapeControls(report), nullptr;
  if (const FileError error = makeReportFolder(report))
    return *why = std::string(words::kFolderNotMade) + fileWords(error), nullptr;
  FileError error;
  std::unique_ptr<RecordFile> file =
      daily ? DailyRecordFile::open(setup.reportFolder, &error) : RecordFile::open(setup.report, &error);
  if (!file) return *why = std::string(words::kReportNotWritable) + fileWords(error), nullptr;
  return std::unique_ptr<LineRun>(new LineRun(std::move(setup), std::move(image), std::move(file)));
}

LineRun::LineRun(LineRunSetup setup, std::shared_ptr<const ImageFile> image, std::unique_ptr<RecordFile> file)
    : setup_(std::move(setup)),
      image_(std::move(image)),
      record_(std::move(file), setup_.setUp),
      view_(setup_.ports, setup_.wake) {
  record_.onRecorded = setup_.recorded;
  std::vector<PortTarget> targets;
  for (const PortEntry& p : setup_.ports) targets.push_back({p.port, portNumber(p.port).value_or(0)});
  station_ = std::make_unique<Station>(StationSetup{.ports = targets,
                                                    .platformFor = setup_.platformFor,
                                                    .stop = stop_.get_token(),
                                                    .period = setup_.period,
                                                    .observer = &view_},
                                       image_->image, image_->facts, &record_);
  thread_ = std::thread([this] {
    station_->run();
    if (setup_.ended) setup_.ended();
  });
}

LineRun::~LineRun() {
  stop();
  finish();
}

bool LineRun::finish() {
  if (thread_.joinable()) thread_.join();
  return !record_.lineMissing();
}

}  // namespace isp::production
