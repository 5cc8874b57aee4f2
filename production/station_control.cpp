#include "production/station_control.h"

#include <algorithm>
#include <filesystem>

#include "production/os.h"
#include "production/station_words.h"
#include "production/system_words.h"
#include "serial/port_target.h"
#include "text/decimal.h"
#include "text/escape.h"
#include "text/utf8_path.h"

namespace isp::production {

namespace {

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The set-up a line file gives, its ports named as the set-up names them.
KeptSettings setUpOf(const LineFile& line) {
  KeptSettings s{.file = line.firmware,
                 .report = {{}, line.report},
                 .intervalMs = line.intervalMs,
                 .publish = {.url = line.publish, .station = line.stationName}};
  for (const std::string& p : line.ports) {
    std::string error;  // none: the line file was checked
    const std::vector<PortTarget> targets = portList(p, &error);
    if (targets.empty()) s.ports.push_back(std::string(kEveryPort));
    for (const PortTarget& t : targets) s.ports.push_back(stationPortName(t.name));
  }
  return s;
}

}  // namespace

std::string operatorModeWords(const LineFile& line) {
  return std::string(words::kOperatorMode) + escapeControls(line.name) + std::string(words::kOperatorModeFile) +
         escapeControls(line.path);
}

StationControl::StationControl(StationScreen& screen, KeptSettings settings, StationControlOptions options)
    : screen_(screen), settings_(std::move(settings)), options_(std::move(options)) {
  if (options_.line) {
    // The broker's secrets are the operator's own: the line names only the broker.
    const PublishSetup given = settings_.publish;
    settings_ = setUpOf(*options_.line);
    settings_.publish.caFile = given.caFile, settings_.publish.authFile = given.authFile;
  }
  if (settings_.report.folder.empty() && settings_.report.file.empty())
    settings_.report.folder = options_.defaultReportFolder;
  every_ = std::any_of(settings_.ports.begin(), settings_.ports.end(), namesEveryPort);
  settings_.ports = chosenPorts(settings_.ports, *options_.platform());
  paths_ = devicePaths(settings_.ports);
  if (!settings_.file.empty()) loadImage(settings_.file);
  screen_.showReport(settings_.report.folder.empty() ? settings_.report.file : dayFileIn(settings_.report.folder));
  screen_.showKept(problemWords(settings_.problems));
  refreshPorts(true);
  showTotals();
}

StationControl::~StationControl() {
  stopNow();
  // The last lines get a few seconds; what is left waits in the record.
  if (publisher_) publisher_->finish(std::chrono::seconds(3));
}

// The file is read at once, and again at each start: a file that cannot
// hold an image is refused before any device is in sight, and what the
// window says of the image is what the line programs.
bool StationControl::loadImage(const std::string& path) {
  settings_.file = path;
  image_ = readImageFile(path);
  const std::string other = notTheLines();
  screen_.showFirmware(path, factsWords(*image_), !image_->whole || !other.empty());
  if (!other.empty()) refuse(other);
  return image_->whole && other.empty();
}

std::string StationControl::notTheLines() const {
  const LineFile* l = line();
  if (!l || !image_->whole || image_->facts.sha256 == l->sha256) return {};
  return std::string(words::kSumFile) + escapeControls(settings_.file) + std::string(words::kSumHas) +
         image_->facts.sha256 + std::string(words::kSumLine) + escapeControls(l->path) + std::string(words::kSumSetUp) +
         l->sha256 + std::string(words::kSumNothing);
}

void StationControl::chooseFile(const std::string& path) {
  if (!path.empty() && !line()) loadImage(path);
}

void StationControl::chooseReportFolder(const std::string& folder) {
  if (folder.empty() || line()) return;
  settings_.report = {folder, {}};
  screen_.showReport(dayFileIn(folder));
  corrected(Setting::Report);
}

void StationControl::typeReport(const std::string& path) {
  const ReportPlace& r = settings_.report;
  if (line() || (r.folder.empty() ? path == r.file : path == dayFileIn(r.folder))) return;
  settings_.report = {{}, path};
  corrected(Setting::Report);
}

void StationControl::typeInterval(const std::string& text) {
  if (line() || text == std::to_string(settings_.intervalMs)) return;
  if (const auto ms = parseDecimal(text, 0, kMaxIntervalMs)) {
    settings_.intervalMs = static_cast<int>(*ms);
    return corrected(Setting::Interval);
  }
  settings_.problems[Setting::Interval] =
      std::string(words::kBadInterval) + std::to_string(kMaxIntervalMs) + std::string(words::kMs);
  screen_.showKept(problemWords(settings_.problems));
}

void StationControl::choosePort(const std::string& name, bool chosen) {
  auto& ports = settings_.ports;
  const bool was = contains(ports, name);
  if (was == chosen || line()) return;
  every_ = false;  // the operator's own choice from now on
  if (chosen)
    ports.push_back(name);
  else
    ports.erase(std::remove(ports.begin(), ports.end(), name), ports.end());
  for (PortRow& row : rows_)
    if (row.port.name == name) row.chosen = chosen;
  corrected(Setting::Ports);
}

void StationControl::typePublish(const std::string& url) {
  if (!line()) settings_.publish.url = url;
}

bool StationControl::publisherReady() {
  PublishSetup wanted = settings_.publish;
  if (wanted.url.empty()) {
    if (publisher_) publisher_->finish(std::chrono::seconds(1)), publisher_.reset();
    return true;
  }
  if (wanted.station.empty()) wanted.station = hostName();
  if (publisher_ && wanted.url == published_.url && wanted.caFile == published_.caFile &&
      wanted.authFile == published_.authFile && wanted.station == published_.station)
    return true;
  if (publisher_) publisher_->finish(std::chrono::seconds(1)), publisher_.reset();
  const ReportPlace& r = settings_.report;
  const std::vector<std::string> backlog =
      r.folder.empty() ? std::vector<std::string>{r.file} : backlogIn(r.folder, dayFileIn(r.folder));
  std::string why;
  publisher_ = Publisher::start(
      wanted, backlog,
      [this](const BrokerState& state) {
        {
          std::lock_guard lock(brokerMu_);
          broker_ = state, brokerNews_ = true;
        }
        screen_.wake();
      },
      &why);
  if (!publisher_) return refuse(std::string(words::kNoPublishing) + escapeControls(why)), false;
  published_ = wanted;
  return true;
}

void StationControl::showBroker() {
  std::optional<BrokerState> state;
  {
    std::lock_guard lock(brokerMu_);
    if (!brokerNews_) return;
    brokerNews_ = false, state = broker_;
  }
  if (!state) return screen_.showBroker({}, false);
  const std::string queued = std::to_string(state->queued);
  if (!state->reachable) return screen_.showBroker(std::string(words::kBrokerAway) + queued, true);
  screen_.showBroker(state->queued ? std::string(words::kBrokerQueued) + queued : std::string(words::kBrokerAllSent),
                     false);
}

void StationControl::corrected(Setting setting) {
  if (settings_.problems.erase(setting)) screen_.showKept(problemWords(settings_.problems));
}

// Adapters come and go while the line is set up; the list is redrawn only
// when it changed, so that the operator's place in it stays.
void StationControl::refreshPorts(bool always) {
  portsLooked_ = options_.clock->now();
  std::vector<PortRow> rows;
  for (PortChoice& c : portChoices(*options_.platform(), settings_.ports, paths_)) {
    // "all": a port that appears is chosen too (a port listed but not chosen is there).
    if (every_ && !contains(settings_.ports, c.name)) settings_.ports.push_back(c.name);
    const bool chosen = contains(settings_.ports, c.name);
    rows.push_back({std::move(c), chosen});
  }
  const bool same = std::equal(rows.begin(), rows.end(), rows_.begin(), rows_.end(), [](const auto& a, const auto& b) {
    return a.port.name == b.port.name && a.port.where == b.port.where;
  });
  rows_ = std::move(rows);
  if (!same || always) screen_.showPorts(rows_);
}

KeptSettings StationControl::kept() const {
  KeptSettings k = settings_;
  if (every_) k.ports = paths_, k.ports.insert(k.ports.begin(), "all");
  return k;
}

bool StationControl::start() {
  if (running()) return true;
  if (!settings_.problems.empty()) return refuse(std::string(words::kFixKept)), false;
  // Read again: what the line programs is the file as it is now.
  if (settings_.file.empty())
    image_.reset();
  else if (!loadImage(settings_.file) && line())
    return false;  // said: only the firmware the line was set up with
  const ReportPlace& r = settings_.report;
  // The field names the file a day written now goes into.
  if (!r.folder.empty()) screen_.showReport(dayFileIn(r.folder));
  std::vector<PortEntry> entries;
  for (const PortRow& row : rows_)
    if (row.chosen) entries.push_back({row.port.name, row.port.place});
  // "all": every port of the table is watched, its tile shown once its adapter is there.
  if (every_)
    for (const TablePort& t : comTable(*options_.platform()))
      if (!contains(settings_.ports, t.target.name)) entries.push_back({t.target.name, {}, true});
  if (!publisherReady()) return false;
  Publisher* publisher = publisher_.get();
  std::string why;
  auto run = LineRun::start({.ports = entries,
                             .report = r.file,
                             // A folder: a line running past midnight goes on in the next day's file.
                             .reportFolder = r.folder,
                             .period = milliseconds(settings_.intervalMs),
                             .platformFor = [platform = options_.platform](const PortTarget&) { return platform(); },
                             // Woken once for whatever piled up, however fast the devices go.
                             .wake = [this] { screen_.wake(); },
                             .ended = [this] { screen_.ended(); },
                             .setUp = {.line = line() ? line()->name : std::string(),
                                       .sha256 = line() ? line()->fileSha256 : std::string(),
                                       .station = publisher ? published_.station : std::string()},
                             .recorded =
                                 [publisher](const RecordFile::End& end, const std::string& text) {
                                   if (publisher) publisher->recorded(end, text);
                                 }},
                            image_, &why);
  if (!run) return refuse(why), false;
  run_ = std::move(run);
  if (publisher) publisher->running(true);
  report_ = r.folder.empty() ? r.file : dayFileIn(r.folder);
  closeWhenEnded_ = false;
  fileChangedShown_ = false;
  since_ = drawn_ = options_.clock->now();
  screen_.showRunning(true);
  screen_.showStatus(std::string(words::kRunning) + report_, false);
  showTotals();
  if (onStarted && !line()) onStarted(kept());
  return true;
}

bool StationControl::saveLine(const std::string& path) {
  if (path.empty() || line()) return false;
  const auto notSaved = [&](const std::string& why) { return refuse(std::string(words::kLineNotSaved) + why), false; };
  if (!image_ || !image_->whole) return notSaved(std::string(words::kLineNeedsImage));
  if (settings_.ports.empty() && !every_) return notSaved(std::string(words::kNoPort));
  if (!settings_.problems.empty()) return notSaved(std::string(words::kFixKept));
  const std::string name = utf8Of(utf8Path(path).stem());
  const ReportPlace& r = settings_.report;
  const LineFile l{
      .name = name,
      .firmware = absolutePath(settings_.file),
      .sha256 = image_->facts.sha256,
      .ports = every_ ? std::vector<std::string>{std::string(kEveryPort)} : settings_.ports,
      .intervalMs = settings_.intervalMs,
      .report = r.folder.empty() ? absolutePath(r.file) : utf8Of(utf8Path(r.folder) / utf8Path(name + ".jsonl"))};
  const std::optional<std::string> text = lineFileText(l);
  if (!text) return notSaved(std::string(words::kLineNotUtf8));
  if (const FileError e = writeOwnFile(path, *text)) return notSaved(fileWords(e));
  screen_.showStatus(std::string(words::kLineSaved) + escapeControls(path), false);
  return true;
}

void StationControl::stop() {
  if (!running()) return;
  run_->stop();
  screen_.showStopping();
  screen_.showStatus(std::string(words::kStopping), false);
}

void StationControl::stopAndQuit(int status) {
  quitStatus_ = status;
  if (!running()) return screen_.end(status);
  stop();
}

bool StationControl::closeNeedsAsking() const { return running() && run_->view().programming(); }

void StationControl::close() {
  if (!running()) return screen_.end(quitStatus_ < 0 ? 0 : quitStatus_);
  closeWhenEnded_ = true;
  stop();
}

void StationControl::stopNow() {
  if (!run_) return;
  run_->stop();
  run_->finish();
}

void StationControl::woken() {
  showBroker();
  const Duration wait = kFramePeriod - (options_.clock->now() - drawn_);
  if (wait <= Duration::zero()) return draw();
  screen_.drawIn(std::chrono::ceil<milliseconds>(wait));
}

void StationControl::draw() {
  if (!run_) return;
  drawn_ = options_.clock->now();
  const LineView::Update news = run_->view().update();
  screen_.showNews(news, run_->view());
  // A device without its line in the record is said, and stays said.
  for (const std::string& alarm : news.alarms) refuse(alarm);
  if (news.rows) showTotals();
}

void StationControl::ended() {
  if (!running()) return;  // ended already, by stopNow
  const bool whole = run_->finish();
  if (publisher_) publisher_->running(false);
  draw();  // what came after the last wake
  screen_.showRunning(false);
  refreshPorts(true);
  if (!whole)
    refuse(std::string(words::kStoppedLinesMissing) + report_);
  else
    screen_.showStatus(std::string(words::kStopped), false);
  showTotals();
  if (quitStatus_ >= 0 || closeWhenEnded_) screen_.end(quitStatus_ < 0 ? 0 : quitStatus_);
}

void StationControl::tick() {
  const TimePoint now = options_.clock->now();
  if (!running()) {
    if (now - portsLooked_ >= kPortsPeriod) refreshPorts(false);
    return;
  }
  showTotals();
  // While the line runs it keeps the image it loaded; a file changed on
  // disk since is said, so that nobody thinks the new one is programmed.
  if (!fileChangedShown_ && image_->changedOnDisk()) {
    fileChangedShown_ = true;
    screen_.showFileChanged(changedWords(*image_));
  }
}

void StationControl::showTotals() {
  const auto ms =
      running() ? std::chrono::duration_cast<milliseconds>(options_.clock->now() - since_) : milliseconds(0);
  screen_.showTotals(run_ ? run_->view().totals(ms) : LineView({}, {}).totals({}));
}

}  // namespace isp::production
