// isp-flash: the firmware transfer from the command line, for scripts and
// production lines. The same transfer core and log lines as the dialog.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/exit_status.h"
#include "cli/options.h"
#include "cli/terminal.h"
#include "production/image_file.h"
#include "production/os.h"
#include "production/port_job.h"
#include "production/port_listing.h"
#include "production/record.h"
#include "production/station.h"
#include "programming/file_access.h"
#include "programming/firmware_image.h"
#include "programming/messages.h"
#include "programming/trace_file.h"

namespace {

using namespace isp::cli;
using namespace isp::production;
using isp::PortTarget;

// How long a run that ends waits for the broker to take its last lines.
constexpr std::chrono::milliseconds kPublishWait{3000};

// Standard output written to its end, or the status says it was not: a
// listing or a help text cut short is no success.
int written(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "isp-flash: standard output: %s\n", std::strerror(errno ? errno : EIO));
  return status == kCompleted ? kNotCompleted : status;
}

int listPorts(bool json) {
  const std::vector<ListedPort> listed = isp::production::listPorts(*serialPlatform());
  if (json) {
    std::fputs(isp::production::listingJson(listed).c_str(), stdout);
    return written(kCompleted);
  }
  for (const auto& [n, p, status] : listed) {
    // A port that exists but cannot be had is shown with the reason.
    std::string line = isp::msg::escapeControls(p.name) + "\t" + isp::msg::escapeControls(p.node);
    // The adapter's maker, product and serial are the USB device's own words.
    if (!p.adapter.empty()) line += '\t' + isp::msg::escapeControls(isp::adapterWords(p.adapter));
    if (!status) line += "\t(" + status.why + ")";
    std::printf("%s\n", line.c_str());
  }
  if (listed.empty()) std::printf("%s\n", std::string(isp::msg::kNoPorts).c_str());
  return written(kCompleted);
}

// The table of the run on standard error; false when it could not be
// written whole.
bool summary(const std::vector<JobResult>& jobs) {
  std::fprintf(stderr, "%-14s %-40s %-12s %-32s %8s\n", "port", "adapter", "device", "result", "time");
  for (const JobResult& j : jobs) {
    const double seconds = std::chrono::duration<double>(j.ended - j.started).count();
    const std::string result =
        resultName(j) + (j.failedRecord >= 0 ? " at record " + std::to_string(j.failedRecord) : "");
    const std::string adapter = isp::msg::escapeControls(j.adapter.empty() ? j.node : isp::adapterWords(j.adapter));
    std::fprintf(stderr, "%-14s %-40s %-12s %-32s %6.1f s\n", isp::msg::escapeControls(j.port).c_str(), adapter.c_str(),
                 isp::msg::escapeControls(j.device).c_str(), result.c_str(), seconds);
  }
  return std::fflush(stderr) == 0 && !std::ferror(stderr);
}

// The image, read once and checked before any device is touched; its
// lines come first, but with one port "Файл считан" is said after the
// identification, where the dialog says it. Its size and fingerprint are
// those of the bytes that are sent.
std::unique_ptr<ImageFile> loadImage(const Options& o, Terminal& terminal, std::string* readLines) {
  std::unique_ptr<ImageFile> f = readImageFile(o.file);
  TerminalLog(terminal).append(f->openLines + (!readLines || !f->whole ? f->readLines : std::string()));
  if (!f->whole) {
    terminal.note(f->opened ? o.file + " is not a firmware image: it must hold " +
                                  std::to_string(isp::wire::kImageSize) + " bytes"
                            : "cannot open " + o.file + ": " + f->image.openWhy());
    return nullptr;
  }
  if (readLines) *readLines = f->readLines;
  terminal.note(o.file + ": " + std::to_string(f->facts.size) + " bytes, SHA-256 " + f->facts.sha256);
  if (f->fileSize > f->facts.size)
    terminal.note(o.file + ": the file holds " + std::to_string(f->fileSize) + " bytes; only the first " +
                  std::to_string(f->facts.size) + " are sent");
  return f;
}

// Several ports, or all there are, however many that turns out to be.
bool several(const Options& o) { return o.allPorts || o.ports.size() > 1; }

// Until stopped: each device programmed as it comes; then the table.
int runStation(const Options& o, const std::vector<PortTarget>& ports, const isp::FirmwareImage& image,
               const ImageFacts& facts, Terminal& terminal, ProductionRecord* record, std::stop_token stop) {
  terminal.note((o.allPorts
                     ? std::string("a station on every port there is and each that appears")
                     : "a station on " + std::to_string(ports.size()) + (ports.size() == 1 ? " port" : " ports")) +
                "; Ctrl-C ends it");
  TerminalLines lines(terminal);
  Station station({.ports = ports,
                   .stop = stop,
                   .period = isp::milliseconds(o.intervalMs),
                   .lines = &lines,
                   .quietUntilThere = o.allPorts,
                   // A device's log lines to the log file alone: the station's own say enough.
                   .logFor = [&terminal](const PortTarget& t) -> std::unique_ptr<isp::LogSink> {
                     return std::make_unique<TerminalLog>(terminal, t.name + ": ", true);
                   }},
                  image, facts, record);
  const std::vector<JobResult> jobs = station.run();
  const bool tabled = summary(jobs);
  const int status = stationStatus(jobs);
  return tabled || status != kCompleted ? status : kRecordMissing;
}

// One transfer per port, each on its own thread with its own link, all from
// one image loaded once. With several ports their lines carry the port's
// name, one progress line shows them all and a table ends the run; one port
// alone gives the dialog's log, line for line.
int runJobs(const Options& o, const std::vector<PortTarget>& ports, const isp::FirmwareImage* image,
            const ImageFacts* facts, std::string imageLines, Terminal& terminal, ProductionRecord* record,
            std::stop_token stop) {
  const bool one = !several(o);
  std::vector<JobResult> jobs(ports.size());
  std::vector<std::atomic<int>> done(ports.size());
  std::vector<std::thread> threads;
  std::atomic<std::size_t> running = ports.size();
  for (std::size_t i = 0; i < ports.size(); ++i) {
    threads.emplace_back([&, i] {
      // The rate and the time left count from the records' first tick, not
      // from the identification before it.
      std::chrono::steady_clock::time_point start;
      const auto ownProgress = [&](int records) {
        const auto now = std::chrono::steady_clock::now();
        if (records == 1) start = now - std::chrono::milliseconds(o.intervalMs);
        const double seconds = std::chrono::duration<double>(now - start).count();
        terminal.progress(progressText(records, isp::wire::kRecords, seconds, isp::wire::kRecordSize));
      };
      const std::string prefix = one ? "" : ports[i].name + ": ";
      TerminalLog log(terminal, prefix);
      jobs[i] = runJob({.target = ports[i],
                        .log = &log,
                        .image = image,
                        .run = {.period = isp::milliseconds(o.intervalMs),
                                .stop = stop,
                                .imageLines = imageLines,
                                .progress = one ? std::function<void(int)>(ownProgress)
                                                : [&, i](int records) { done[i] = records; }}});
      if (one) jobs[i].result == isp::Outcome::Completed ? terminal.endProgress() : terminal.clearProgress();
      if (!jobs[i].why.empty()) terminal.note(prefix + jobs[i].why);
      appendLine(record, jobs[i], facts, o.intervalMs, [&](const std::string& why) { terminal.note(why); });
      --running;
    });
  }
  // One progress line for every port, redrawn while any runs.
  while (!one && running > 0 && terminal.showsProgress() && !stop.stop_requested()) {
    std::string text;
    for (std::size_t i = 0; i < ports.size(); ++i)
      text += ports[i].name + " " + std::to_string(done[i]) + "/" + std::to_string(isp::wire::kRecords) + "  ";
    terminal.progress(text);
    isp::sleepUntil(isp::SteadyClock::instance().now() + isp::milliseconds(250), stop);
  }
  for (std::thread& t : threads) t.join();
  if (one) return exitStatus(jobs.front());
  terminal.clearProgress();
  const int status = combinedStatus(jobs);
  return summary(jobs) || status != kCompleted ? status : kRecordMissing;
}

// --file, --log and --report naming one file, by whatever names: the log
// would be written into the record, the record into the firmware. Told
// before any of them is opened.
std::optional<std::string> oneFileTwoRoles(const Options& o) {
  const std::pair<const char*, const std::string*> roles[] = {
      {"--file", &o.file}, {"--log", &o.logFile}, {"--report", &o.reportFile}, {"--trace", &o.traceFile}};
  for (std::size_t i = 0; i < std::size(roles); ++i)
    for (std::size_t k = i + 1; k < std::size(roles); ++k)
      if (!roles[i].second->empty() && !roles[k].second->empty() &&
          fileIdentity(*roles[i].second) == fileIdentity(*roles[k].second))
        return std::string(roles[i].first) + " and " + roles[k].first + " name one file: " + *roles[i].second +
               " and " + *roles[k].second;
  return std::nullopt;
}

int run(const Options& o) {
  Terminal terminal(!o.quiet && stderrShowsProgress());
  if (const auto twice = samePortTwice(o.ports)) {
    terminal.note("--port names one device twice: " + twice->first + " and " + twice->second +
                  " (see isp-flash --help)");
    return kUsage;
  }
  if (const auto shared = oneFileTwoRoles(o)) {
    terminal.note(*shared + " (see isp-flash --help)");
    return kUsage;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> logFile(nullptr, std::fclose);
  if (!o.logFile.empty()) {
    std::string why;
    logFile.reset(isp::openFile(o.logFile, "ab", &why));
    if (!logFile) {
      terminal.note("cannot open the log file " + o.logFile + ": " + why);
      return kUsage;
    }
    terminal.setLogFile(logFile.get(), o.logFile);
  }
  std::unique_ptr<isp::Trace> trace;
  if (!o.traceFile.empty()) {
    std::string why;
    if (!(trace = isp::openTrace(o.traceFile, &why))) {
      terminal.note("cannot open the trace file " + o.traceFile + ": " + why);
      return kUsage;
    }
    trace->onLost = [&terminal, file = o.traceFile](const std::string& words) {
      terminal.note("the trace " + file + ": " + words);
    };
  }
  const isp::TraceInstalled traced(trace.get());
  // The record is opened before any device is touched: a device programmed
  // without its line is what the record exists to prevent.
  std::unique_ptr<ProductionRecord> record;
  if (!o.reportFile.empty()) {
    FileError error;
    auto file = RecordFile::open(o.reportFile, &error);
    if (!file) {
      terminal.note("cannot keep the report " + error.english + "; no device was touched");
      return kRecordMissing;
    }
    record = std::make_unique<ProductionRecord>(std::move(file),
                                                SetUpBy{.line = o.line ? o.line->name : std::string(),
                                                        .sha256 = o.line ? o.line->fileSha256 : std::string(),
                                                        .station = o.publish.station});
  }
  // Before the publisher's thread: every thread leaves the stop signals to the one that turns them into a stop.
  const std::stop_token stop = installStopHandlers();
  // The record sent on to the broker, what an earlier run left first.
  std::unique_ptr<Publisher> publisher;
  if (!o.publish.url.empty()) {
    std::string why;
    const std::string url = isp::escapeControls(o.publish.url);
    publisher = Publisher::start(
        o.publish, {o.reportFile},
        [&terminal, url, said = std::optional<bool>()](const BrokerState& s) mutable {
          // Said once per change; a broker reached at once needs no word.
          const bool quiet = said == s.reachable || (!said && s.reachable);
          said = s.reachable;
          if (quiet) return;
          terminal.note(s.reachable ? "the broker " + url + " is reached; " + std::to_string(s.queued) +
                                          " lines of the report to send"
                                    : "the broker " + url + " cannot be reached (" + s.why + "); " +
                                          std::to_string(s.queued) + " lines of the report wait for it");
        },
        &why);
    if (!publisher) {
      terminal.note("--publish: " + isp::escapeControls(why) + "; no device was touched");
      return kUsage;
    }
    record->onRecorded = [&publisher](const RecordFile::End& end, const std::string& line) {
      publisher->recorded(end, line);
    };
  }
  const std::vector<PortTarget> ports = portsOf(o, *serialPlatform());
  if (ports.empty() && !o.station) {
    terminal.note("the system lists no serial port now");
    return kNotIdentified;
  }
  std::unique_ptr<ImageFile> file;
  std::string imageLines;
  const bool flash = o.mode == Options::Mode::Flash;
  if (flash && !(file = loadImage(o, terminal, several(o) || o.station ? nullptr : &imageLines))) return kFileError;
  // Operator mode programs the firmware its line was set up with, or none.
  if (o.line && file && file->facts.sha256 != o.line->sha256) {
    terminal.note("the firmware " + isp::escapeControls(o.file) + " has SHA-256 " + file->facts.sha256 +
                  ", but the line file " + isp::escapeControls(o.lineFile) + " was set up with SHA-256 " +
                  o.line->sha256 + "; no device was touched");
    return kUsage;
  }
  const int status = o.station ? runStation(o, ports, file->image, file->facts, terminal, record.get(), stop)
                               : runJobs(o, ports, flash ? &file->image : nullptr, flash ? &file->facts : nullptr,
                                         imageLines, terminal, record.get(), stop);
  // A few seconds for the broker to take the last lines; the rest waits in
  // the report for the next run, and the status is the devices'.
  if (publisher)
    if (const std::size_t left = publisher->finish(kPublishWait); left > 0)
      terminal.note(std::to_string(left) + (left == 1 ? " line of the report waits" : " lines of the report wait") +
                    " for the broker " + isp::escapeControls(o.publish.url) +
                    "; the next run that publishes sends them first");
  if (status == kCompleted && record && record->lineMissing()) {
    terminal.note("the report " + o.reportFile + " lacks a device's line");
    return kRecordMissing;
  }
  // The log's own failure was said when it came.
  return status == kCompleted && terminal.lost() ? kRecordMissing : status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = isp::production::startProgram(argc, argv);
  std::vector<const char*> argp;
  for (const std::string& a : args) argp.push_back(a.c_str());
  std::string error;
  auto options = isp::cli::parse(static_cast<int>(argp.size()), argp.data(), &error);
  if (options && !isp::cli::readLine(*options, &error)) options.reset();
  if (!options) {
    // The option's value is repeated as given: escaped, as every line here is.
    std::fprintf(stderr, "isp-flash: %s (see isp-flash --help)\n", isp::msg::escapeControls(error).c_str());
    return kUsage;
  }
  switch (options->mode) {
    case Options::Mode::Help: std::fputs(isp::cli::helpText().c_str(), stdout); return written(0);
    case Options::Mode::Version: std::puts(isp::cli::kVersion); return written(0);
    case Options::Mode::List: return listPorts(options->json);
    default: return run(*options);
  }
}
