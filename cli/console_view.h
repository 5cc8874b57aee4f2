#pragma once
#include <cstdio>
#include <string>

#include "clock.h"
#include "transfer_view.h"

namespace isp::cli {

// The transfer engine's view on a terminal: complete log lines to standard
// output (and, with a timestamp, to a log file), progress to standard error.
class ConsoleView final : public TransferView {
 public:
  ConsoleView(std::FILE* logFile, bool showProgress) : logFile_(logFile), showProgress_(showProgress) {}

  void logAppended(std::string_view piece) override;
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

  // Records acknowledged so far out of `total`, since `start`.
  void showProgress(int done, int total, TimePoint start, TimePoint now);
  void clearProgress();
  // Leaves the last progress shown on a line of its own.
  void endProgress();

 private:
  void emitLine(const std::string& line);

  std::FILE* logFile_;
  bool showProgress_;
  bool progressShown_ = false;
  bool timerRunning_ = false;
  int periodMs_ = 0;
  std::string pending_;
};

// "records 123/513  24%  1.9 kB/s  0:45 left"
std::string progressText(int done, int total, double seconds, std::size_t recordSize);

}  // namespace isp::cli
