// isp-flash: the firmware transfer from the command line, for scripts and
// production lines. Same engine, same log lines as the dialog.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/console_view.h"
#include "cli/options.h"
#include "cli/os.h"
#include "cli/port_job.h"
#include "cli/report.h"
#include "cli/station.h"
#include "programming/file_access.h"
#include "programming/firmware_image.h"
#include "programming/messages.h"
#include "programming/sha256.h"

namespace {

using isp::cli::JobResult;
using isp::cli::Options;
using namespace isp::cli;  // the exit statuses

void say(const std::string& line) { std::fprintf(stderr, "isp-flash: %s\n", line.c_str()); }

int listPorts() {
  const auto platform = serialPlatform();
  int shown = 0;
  for (int n = isp::kFirstPort; n <= isp::kLastPort; ++n) {
    const isp::Port p = platform->port(n);
    const isp::PortStatus status = platform->check(n);
    // A port that exists but cannot be had is shown with the reason.
    if (status.error == isp::SerialError::NotFound) continue;
    std::string line = p.name + "\t" + p.node;
    // The adapter's maker, product and serial are the USB device's own words.
    if (!p.adapter.empty()) line += '\t' + isp::msg::escapeControls(p.adapter);
    if (!status) line += "\t(" + status.why + ")";
    std::printf("%s\n", line.c_str());
    ++shown;
  }
  if (shown == 0) std::printf("%s\n", std::string(isp::msg::kNoPorts).c_str());
  return kCompleted;
}

// The image's size and fingerprint, said when the run starts and kept in
// the production record.
ImageFacts facts(const std::string& path, std::span<const std::uint8_t> image) {
  ImageFacts f{absolutePath(path), image.size(), isp::sha256Hex(image)};
  say(path + ": " + std::to_string(f.size) + " bytes, SHA-256 " + f.sha256);
  std::error_code ec;
  if (const auto size = std::filesystem::file_size(path, ec); !ec && size > f.size)
    say(path + ": the file holds " + std::to_string(size) + " bytes; only the first " + std::to_string(f.size) +
        " are sent");
  return f;
}

// The image a single transfer will send: the engine reads the file itself,
// so this only looks, and says nothing when the engine will refuse the file.
std::optional<ImageFacts> peek(const std::string& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(isp::openFile(path, "rb"), std::fclose);
  std::vector<std::uint8_t> bytes(isp::wire::kImageSize);
  if (!in || std::fread(bytes.data(), 1, bytes.size(), in.get()) != bytes.size()) return std::nullopt;
  return facts(path, bytes);
}

// The ports of --port all: every one that can be had now, told without
// opening any.
std::vector<PortTarget> allPorts() {
  const auto platform = serialPlatform();
  std::vector<PortTarget> ports;
  for (int n = isp::kFirstPort; n <= isp::kLastPort; ++n)
    if (platform->check(n)) ports.push_back({isp::comName(n), n});
  return ports;
}

// The run's status: 0 when every device completed, else what they share,
// and 1 when they differ.
int combinedStatus(const std::vector<JobResult>& jobs) {
  int status = jobs.empty() ? kNotIdentified : jobs.front().status;
  for (const JobResult& j : jobs)
    if (j.status != status) return kNotCompleted;
  return status;
}

void summary(const std::vector<JobResult>& jobs) {
  std::fprintf(stderr, "%-14s %-40s %-12s %-32s %8s\n", "port", "adapter", "device", "result", "time");
  for (const JobResult& j : jobs) {
    const double seconds = std::chrono::duration<double>(j.ended - j.started).count();
    const std::string result =
        resultName(j) + (j.failedBlock >= 0 ? " at record " + std::to_string(j.failedBlock) : "");
    const std::string adapter = isp::msg::escapeControls(j.adapter.empty() ? j.node : j.adapter);
    std::fprintf(stderr, "%-14s %-40s %-12s %-32s %6.1f s\n", j.port.c_str(), adapter.c_str(),
                 isp::msg::escapeControls(j.device).c_str(), result.c_str(), seconds);
  }
}

// Two names in one --port list for one device would run two transfers into
// it at once: the second name, and the first, when that is so.
std::optional<std::pair<std::string, std::string>> samePortTwice(const std::vector<PortTarget>& ports) {
  std::vector<std::string> devices;
  for (const PortTarget& t : ports) {
    const std::string node = platformFor(t)->port(portNumberOf(t)).node;
    devices.push_back(node.empty() ? t.name : deviceIdentity(node));
    for (std::size_t i = 0; i + 1 < devices.size(); ++i)
      if (devices[i] == devices.back()) return std::pair{ports[i].name, t.name};
  }
  return std::nullopt;
}

// The image, read and checked once for every port; its lines come first.
std::optional<ImageFacts> loadImage(const Options& o, Terminal& terminal, isp::FirmwareImage& image) {
  std::string lines;
  image.choose(o.file, lines);
  const bool opened = image.fileOpen(), fits = opened && image.fileCanHoldImage();
  const bool whole = fits && image.makeReady(lines);  // makeReady logs its own read error
  if (opened && !fits) lines += std::string(isp::msg::kFileReadError) + "\r\n";
  for (std::size_t end; (end = lines.find("\r\n")) != std::string::npos; lines.erase(0, end + 2))
    terminal.line(lines.substr(0, end));
  if (!whole) {
    say(fileProblem(o.file, opened ? 0 : image.openError()));
    return std::nullopt;
  }
  return facts(o.file, image.bytes());
}

// Until stopped: each device programmed as it comes; then the table.
int runStation(const Options& o, Terminal& terminal, isp::cli::ProductionRecord* record) {
  isp::FirmwareImage image;
  const std::optional<ImageFacts> imageFacts = loadImage(o, terminal, image);
  if (!imageFacts) return kFileError;
  std::vector<PortTarget> ports = o.ports;
  if (o.allPorts)
    for (int n = isp::kFirstPort; n <= isp::kLastPort; ++n) ports.push_back({isp::comName(n), n});
  terminal.note("a station on " + std::to_string(ports.size()) + (ports.size() == 1 ? " port" : " ports") +
                "; Ctrl-C ends it");
  isp::cli::Station station({.ports = ports}, o, terminal, image, *imageFacts, record);
  const std::vector<JobResult> jobs = station.run();
  summary(jobs);
  for (const JobResult& j : jobs)
    if (j.status != kCompleted) return kNotCompleted;
  return kCompleted;
}

// One transfer per port, each on its own thread with its own link and
// engine, all from one image loaded once; their lines carry the port's name.
int runMany(const Options& o, Terminal& terminal, isp::cli::ProductionRecord* record) {
  const std::vector<PortTarget> ports = o.allPorts ? allPorts() : o.ports;
  if (ports.empty()) {
    say("no port can be had now");
    return kNotIdentified;
  }
  isp::FirmwareImage image;
  std::optional<ImageFacts> imageFacts;
  if (o.mode == Options::Mode::Flash) {
    imageFacts = loadImage(o, terminal, image);
    if (!imageFacts) return kFileError;
  }

  std::vector<JobResult> jobs(ports.size());
  std::vector<std::atomic<int>> done(ports.size());
  std::vector<std::thread> threads;
  std::atomic<std::size_t> running = ports.size();
  for (std::size_t i = 0; i < ports.size(); ++i) {
    threads.emplace_back([&, i] {
      const JobSetup setup{.target = ports[i],
                           .options = &o,
                           .terminal = &terminal,
                           .prefix = ports[i].name + ": ",
                           .image = o.mode == Options::Mode::Flash ? &image : nullptr,
                           .progress = [&, i](int records) { done[i] = records; }};
      jobs[i] = runJob(setup);
      if (!jobs[i].why.empty()) terminal.note(ports[i].name + ": " + jobs[i].why);
      std::string error;
      if (record && !record->append(jobs[i], imageFacts ? &*imageFacts : nullptr, o.intervalMs, &error))
        terminal.note("the report: " + error);
      --running;
    });
  }
  // One progress line for every port, redrawn while any runs.
  while (running > 0 && terminal.showsProgress() && !stopStatus()) {
    std::string text;
    for (std::size_t i = 0; i < ports.size(); ++i)
      text += ports[i].name + " " + std::to_string(done[i]) + "/" + std::to_string(isp::wire::kRecords) + "  ";
    terminal.progress(text);
    sleepUntil(isp::SteadyClock::instance().now() + isp::milliseconds(250));
  }
  for (std::thread& t : threads) t.join();
  terminal.clearProgress();
  summary(jobs);
  return combinedStatus(jobs);
}

// One port: the output is the dialog's log, line for line.
int runOne(const Options& o, Terminal& terminal, isp::cli::ProductionRecord* record) {
  const std::optional<ImageFacts> image = o.mode == Options::Mode::Flash ? peek(o.file) : std::nullopt;
  const JobResult job = runJob({.target = o.ports.front(), .options = &o, .terminal = &terminal});
  if (!job.why.empty()) say(job.why);
  std::string error;
  // A file that could not be read leaves no device attempted, so no record.
  if (record && job.status != kFileError && !record->append(job, image ? &*image : nullptr, o.intervalMs, &error))
    say("the report: " + error);
  return job.status;
}

int run(const Options& o) {
  if (const auto twice = samePortTwice(o.ports)) {
    say("--port names one device twice: " + twice->first + " and " + twice->second + " (see isp-flash --help)");
    return kUsage;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> logFile(nullptr, std::fclose);
  if (!o.logFile.empty()) {
    logFile.reset(isp::openFile(o.logFile, "ab"));
    if (!logFile) {
      say("cannot open the log file " + o.logFile + ": " + isp::openFailure(errno));
      return kUsage;
    }
  }
  // The record is opened before any device is touched: a device programmed
  // without its line is what the record exists to prevent.
  std::unique_ptr<isp::cli::ProductionRecord> record;
  if (!o.reportFile.empty()) {
    std::string error;
    auto file = isp::cli::RecordFile::open(o.reportFile, &error);
    if (!file) {
      say("cannot keep the report " + error + "; no device was touched");
      return kRecordMissing;
    }
    record = std::make_unique<isp::cli::ProductionRecord>(std::move(file));
  }
  Terminal terminal(logFile.get(), !o.quiet && stderrShowsProgress());
  installStopHandlers();
  const int status = o.station                          ? runStation(o, terminal, record.get())
                     : o.allPorts || o.ports.size() > 1 ? runMany(o, terminal, record.get())
                                                        : runOne(o, terminal, record.get());
  if (status == kCompleted && record && record->lineMissing()) {
    say("the report " + o.reportFile + " lacks a device's line");
    return kRecordMissing;
  }
  return status;
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
    case Options::Mode::Help: std::fputs(isp::cli::helpText().c_str(), stdout); return 0;
    case Options::Mode::Version: std::puts(isp::cli::kVersion); return 0;
    case Options::Mode::List: return listPorts();
    default: return run(*options);
  }
}
