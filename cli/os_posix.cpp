#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <csignal>

#include "os.h"
#include "serial_posix.h"

namespace isp::cli {

namespace {

// The signal that asked us to stop, 0 while none has.
volatile std::sig_atomic_t g_stop = 0;

void onSignal(int sig) { g_stop = sig; }

}  // namespace

std::vector<std::string> startProgram(int argc, char** argv) { return {argv, argv + argc}; }

std::unique_ptr<SerialPlatform> serialPlatform(const std::string& path) {
  return std::make_unique<PosixSerialPlatform>(path.empty() ? PortMap::linuxDefault() : PortMap::onlyDevice(path));
}

void installStopHandlers() {
  struct sigaction sa{};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a sleep ends early so that Stop is prompt
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  // A reader of standard output that goes away must not end the transfer:
  // writes to it fail quietly and the device is programmed to the end.
  signal(SIGPIPE, SIG_IGN);
}

int stopStatus() { return g_stop ? 128 + static_cast<int>(g_stop) : 0; }

void sleepUntil(TimePoint t) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

bool stderrShowsProgress() { return isatty(STDERR_FILENO); }

}  // namespace isp::cli
