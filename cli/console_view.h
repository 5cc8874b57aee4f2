#pragma once
#include <cstdio>
#include <mutex>
#include <string>

#include "programming/messages.h"
#include "programming/transfer_view.h"
#include "serial/clock.h"

namespace isp::cli {

// The terminal that every transfer of a run writes to: whole lines to
// standard output (and, with a timestamp, to a log file), and one progress
// line on standard error that a new line first clears. One lock, so that the
// lines of transfers on several threads never interleave.
class Terminal {
 public:
  Terminal(std::FILE* logFile, bool showProgress) : logFile_(logFile), showProgress_(showProgress) {}
  // show: false for a line the log file alone gets.
  void line(const std::string& text, bool show = true);
  // "isp-flash: text" on standard error: more than a log line says.
  void note(const std::string& text);
  void progress(const std::string& text);
  void clearProgress();
  // Leaves the last progress shown on a line of its own.
  void endProgress();
  bool showsProgress() const { return showProgress_; }

 private:
  void clearLocked();
  std::mutex mu_;
  std::FILE* logFile_;
  bool showProgress_;
  bool progressShown_ = false;
};

// The transfer engine's view on the terminal; with several ports each line
// starts with the port's name ("COM5: ").
class ConsoleView final : public TransferView {
 public:
  // quiet: the lines go to the log file alone.
  explicit ConsoleView(Terminal& terminal, std::string prefix = {}, bool quiet = false)
      : terminal_(terminal), prefix_(std::move(prefix)), quiet_(quiet) {}
  void logAppended(std::string_view piece) override;
  // A device's text can neither command the terminal nor forge a line.
  void deviceTextAppended(std::string_view text) override { logAppended(msg::escapeControls(text)); }
  void refreshLog(const std::string&) override {}
  void setProgressRange(int, int) override {}
  void setProgress(int) override {}
  void enable(Control, bool) override {}
  void startRecordTimer(int, int periodMs) override {
    timerRunning_ = true;
    periodMs_ = periodMs;
  }
  void stopRecordTimer(int) override { timerRunning_ = false; }
  bool timerRunning() const { return timerRunning_; }
  int periodMs() const { return periodMs_; }
  Terminal& terminal() { return terminal_; }

 private:
  Terminal& terminal_;
  std::string prefix_;
  bool quiet_;
  bool timerRunning_ = false;
  int periodMs_ = 0;
  std::string pending_;
};

// "records 123/513  24%  1.9 kB/s  0:45 left"
std::string progressText(int done, int total, double seconds, std::size_t recordSize);

}  // namespace isp::cli
