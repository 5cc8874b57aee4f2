#pragma once
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "production/station.h"
#include "programming/messages.h"
#include "programming/transfer.h"

namespace isp::cli {

// The terminal that every transfer of a run writes to: whole lines to
// standard output (and, with a timestamp, to a log file), and one progress
// line on standard error that a new line first clears. One lock, so that the
// lines of transfers on several threads never interleave. Every line and
// note is shown with its control characters escaped, as device text is: a
// port's name or a path can neither command the terminal nor forge a line.
// A write that fails never stops a transfer: it is said once on standard
// error, and lost() tells the run that its record is not whole.
class Terminal {
 public:
  explicit Terminal(bool showProgress) : showProgress_(showProgress) {}
  // From now on every line goes to logFile (named path) as well, with a timestamp.
  void setLogFile(std::FILE* logFile, std::string path) {
    logFile_ = logFile;
    logPath_ = std::move(path);
  }
  // show: false for a line the log file alone gets.
  void line(const std::string& text, bool show = true);
  // "isp-flash: text" on standard error: more than a log line says.
  void note(const std::string& text);
  void progress(const std::string& text);
  void clearProgress();
  // Leaves the last progress shown on a line of its own.
  void endProgress();
  bool showsProgress() const { return showProgress_; }
  // A line of the log file, or a note, could not be written.
  bool lost() const { return lost_; }

 private:
  void clearLocked();
  void noteLocked(const std::string& text);
  std::mutex mu_;
  std::FILE* logFile_ = nullptr;
  std::string logPath_;
  bool logFailed_ = false, stdoutFailed_ = false;
  std::atomic<bool> lost_ = false;
  bool showProgress_;
  bool progressShown_ = false;
};

// A transfer's log on the terminal: each whole line as it ends, after the
// port's name ("COM5: ") when several ports share the terminal.
class TerminalLog final : public LogSink {
 public:
  // quiet: the lines go to the log file alone.
  explicit TerminalLog(Terminal& terminal, std::string prefix = {}, bool quiet = false)
      : terminal_(terminal), prefix_(std::move(prefix)), quiet_(quiet) {}
  void append(std::string_view piece) override;
  // A device's text can neither command the terminal nor forge a line.
  void appendDeviceText(std::string_view text) override { append(msg::escapeControls(text)); }

 private:
  Terminal& terminal_;
  std::string prefix_;
  bool quiet_;
  std::string pending_;
};

// A station's own lines on the terminal, shown and in the log file.
class TerminalLines final : public production::StationLines {
 public:
  explicit TerminalLines(Terminal& terminal) : terminal_(terminal) {}
  void line(const std::string& text) override { terminal_.line(text); }
  void note(const std::string& text) override { terminal_.note(text); }

 private:
  Terminal& terminal_;
};

// Whether standard error is a terminal that can show the progress line.
bool stderrShowsProgress();

// "records 123/513  24%  1.9 kB/s  0:45 left"
std::string progressText(int done, int total, double seconds, std::size_t recordSize);

}  // namespace isp::cli
