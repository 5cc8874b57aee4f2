#include "cli/terminal.h"

#include <chrono>
#include <cstdio>

#include "cli/timestamp.h"
#include "link/protocol.h"

namespace isp::cli {

void TerminalLog::append(std::string_view piece) {
  pending_ += piece;
  std::size_t end;
  while ((end = pending_.find("\r\n")) != std::string::npos) {
    terminal_.line(prefix_ + pending_.substr(0, end), !quiet_);
    pending_.erase(0, end + 2);
  }
}

void Terminal::line(const std::string& line, bool show) {
  std::lock_guard lock(mu_);
  if (show) {
    clearLocked();
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  }
  if (!logFile_) return;
  const std::string stamp = timestamp(std::chrono::system_clock::now(), Zone::Local);
  std::fprintf(logFile_, "%s %s\n", stamp.c_str(), line.c_str());
  std::fflush(logFile_);
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
  clearLocked();
  std::fprintf(stderr, "isp-flash: %s\n", text.c_str());
  std::fflush(stderr);
}

void Terminal::progress(const std::string& text) {
  if (!showProgress_) return;
  std::lock_guard lock(mu_);
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
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
