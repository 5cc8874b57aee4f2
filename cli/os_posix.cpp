#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "os.h"
#include "serial_posix.h"

namespace isp::cli {

namespace {

// The signal that asked us to stop, 0 while none has.
volatile std::sig_atomic_t g_stop = 0;
// Readable once a stop is asked for, so that every thread's sleep ends at once.
int g_wake[2] = {-1, -1};

void onSignal(int sig) {
  g_stop = sig;
  const char byte = 1;
  if (g_wake[1] >= 0) (void)!::write(g_wake[1], &byte, 1);
}

}  // namespace

std::vector<std::string> startProgram(int argc, char** argv) { return {argv, argv + argc}; }

std::unique_ptr<SerialPlatform> serialPlatform(const std::string& path) {
  return std::make_unique<PosixSerialPlatform>(path.empty() ? PortMap::linuxDefault() : PortMap::onlyDevice(path));
}

void installStopHandlers() {
  if (g_wake[0] < 0 && ::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
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
  SteadyClock& clock = SteadyClock::instance();
  const Deadline until(t);
  for (TimePoint now = clock.now(); !g_stop && !until.passed(now); now = clock.now()) {
    pollfd p{g_wake[0], POLLIN, 0};
    if (::poll(&p, g_wake[0] >= 0 ? 1 : 0, until.waitMs(now)) > 0) break;
  }
}

bool stderrShowsProgress() { return isatty(STDERR_FILENO); }

std::string hostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

bool appendDurably(const std::string& path, const std::string& text, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t k = ::write(fd, text.data() + done, text.size() - done);
    if (k > 0) done += static_cast<std::size_t>(k);
    else if (k < 0 && errno != EINTR) ok = false;
  }
  ok = ok && ::fsync(fd) == 0;
  if (!ok) *error = path + ": " + std::strerror(errno);
  if (fd >= 0) ::close(fd);
  return ok;
}

std::string absolutePath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out = real;
  std::free(real);
  return out;
}

}  // namespace isp::cli
