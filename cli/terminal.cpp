#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "cli/terminal.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "link/protocol.h"
#include "production/timestamp.h"

namespace isp::cli {

bool stderrShowsProgress() {
#ifdef _WIN32
  // The progress line redraws itself with "\r" and "ESC [K", which a
  // console takes only once asked to.
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return ::GetConsoleMode(err, &mode) && ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
  return ::isatty(STDERR_FILENO);
#endif
}

void TerminalLog::append(std::string_view piece) {
  pending_ += piece;
  std::size_t end;
  while ((end = pending_.find("\r\n")) != std::string::npos) {
    terminal_.line(prefix_ + pending_.substr(0, end), !quiet_);
    pending_.erase(0, end + 2);
  }
}

void Terminal::line(const std::string& text, bool show) {
  const std::string shown = msg::escapeControls(text);
  std::lock_guard lock(mu_);
  if (show) {
    clearLocked();
    // A reader that went away (EPIPE) chose to stop reading; anything else
    // is said, once.
    if ((std::fprintf(stdout, "%s\n", shown.c_str()) < 0 || std::fflush(stdout) != 0) && errno != EPIPE &&
        !stdoutFailed_) {
      stdoutFailed_ = true;
      noteLocked(std::string("standard output: ") + std::strerror(errno) + "; the lines that follow are not shown");
    }
  }
  if (!logFile_ || logFailed_) return;
  const std::string stamp = production::timestamp(std::chrono::system_clock::now(), production::Zone::Local);
  if (std::fprintf(logFile_, "%s %s\n", stamp.c_str(), shown.c_str()) < 0 || std::fflush(logFile_) != 0) {
    // Said once; the lines after it are not tried, so none is half there.
    logFailed_ = true;
    lost_ = true;
    noteLocked("the log file " + logPath_ + ": " + std::strerror(errno) + "; it lacks this line and those after it");
  }
}

std::string progressText(int done, int total, double seconds, std::size_t recordSize) {
  const int pct = total > 0 ? done * 100 / total : 0;
  char buf[128];
  const double rate = seconds > 0 ? static_cast<double>(done) * static_cast<double>(recordSize) / seconds : 0.0;
  if (done > 0 && seconds > 0) {
    const long left = static_cast<long>(seconds / done * (total - done) + 0.5);
    std::snprintf(buf, sizeof buf, "records %d/%d  %3d%%  %.1f kB/s  %ld:%02ld left", done, total, pct, rate / 1000.0,
                  left / 60, left % 60);
  } else {
    std::snprintf(buf, sizeof buf, "records %d/%d  %3d%%", done, total, pct);
  }
  return buf;
}

void Terminal::note(const std::string& text) {
  std::lock_guard lock(mu_);
  noteLocked(text);
}

void Terminal::noteLocked(const std::string& text) {
  clearLocked();
  if (std::fprintf(stderr, "isp-flash: %s\n", msg::escapeControls(text).c_str()) < 0 || std::fflush(stderr) != 0)
    lost_ = true;
}

void Terminal::progress(const std::string& text) {
  if (!showProgress_) return;
  std::lock_guard lock(mu_);
  std::fprintf(stderr, "\r%s\033[K", msg::escapeControls(text).c_str());  // the ports' names in it
  std::fflush(stderr);
  progressShown_ = true;
}

void Terminal::endProgress() {
  std::lock_guard lock(mu_);
  if (!progressShown_) return;
  std::fputc('\n', stderr);
  progressShown_ = false;
}

void Terminal::clearProgress() {
  std::lock_guard lock(mu_);
  clearLocked();
}

void Terminal::clearLocked() {
  if (!progressShown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  progressShown_ = false;
}

}  // namespace isp::cli
