#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/protocol.h"
#include "serial/posix/path_walk.h"

namespace isp::sim {

using SteadyTime = std::chrono::steady_clock::time_point;
using std::chrono::steady_clock;

namespace {
std::chrono::nanoseconds byteTime(int baud) { return std::chrono::nanoseconds(10LL * 1'000'000'000LL / baud); }
}  // namespace

Simulator::Simulator(SimulatorOptions options, Log log)
    : opt_(std::move(options)), log_(std::move(log)), device_(opt_.device, [this](const std::string& what) {
        if (log_) log_("fault: " + what);
      }) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_.reset(fds[0]);
    wakeWrite_.reset(fds[1]);
  }
}

namespace {
// Where a symbolic link points, empty when path is not one.
std::string linkTarget(const std::string& path) {
  char buf[4096];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
}  // namespace

Simulator::~Simulator() {
  stop();
  // Only a link that still points at our own line is ours to remove.
  if (!opt_.linkPath.empty() && !line_.path.empty() && linkTarget(opt_.linkPath) == line_.path)
    ::unlink(opt_.linkPath.c_str());
}

// The link may replace nothing but a link to a pseudo-terminal (a leftover
// of an earlier run): a device node or a file at that path is someone's.
bool Simulator::placeLink(const std::string& target, std::string* error) {
  const std::string& at = opt_.linkPath;
  struct stat st {};
  if (::lstat(at.c_str(), &st) == 0 && !(S_ISLNK(st.st_mode) && linkTarget(at).starts_with("/dev/pts/"))) {
    if (error) *error = at + " exists and is not a link to a pseudo-terminal: refusing to replace it";
    return false;
  }
  // Replace the link atomically so that an opener never finds it missing,
  // from a name nobody can guess, in a folder walked as for any file.
  const WalkedPath folder = openFolderOf(at);
  const std::string tmp = folder.fd ? unguessableName("." + folder.name + ".") : std::string();
  if (!folder.fd || ::symlinkat(target.c_str(), folder.fd.get(), tmp.c_str()) != 0 ||
      ::renameat(folder.fd.get(), tmp.c_str(), folder.fd.get(), folder.name.c_str()) != 0) {
    if (error) *error = at + ": " + (folder.fd ? std::strerror(errno) : folder.why);
    if (folder.fd) ::unlinkat(folder.fd.get(), tmp.c_str(), 0);
    return false;
  }
  return true;
}

bool Simulator::openPty(std::string* error) {
  Pty p = sim::openPty(true, error);
  if (p.path.empty()) return false;
  // Started through sudo, the line belongs to the user who asked for it.
  if (opt_.ownerUid >= 0 &&
      ::chown(p.path.c_str(), static_cast<uid_t>(opt_.ownerUid), static_cast<gid_t>(opt_.ownerGid)) != 0) {
    if (error) *error = p.path + ": " + std::strerror(errno);
    return false;
  }
  if (!opt_.linkPath.empty() && !placeLink(p.path, error)) return false;
  const std::string path = p.path;
  {
    std::lock_guard lock(mu_);
    line_ = std::move(p);
  }
  ++linesOpened_;
  if (onPath) onPath(path);
  return true;
}

bool Simulator::openDevice(const std::string& path, std::string* error) {
  WalkedPath opened = openWalked(path, O_RDWR | O_NOCTTY | O_NONBLOCK, 0, PathUse::Port);
  UniqueFd fd = std::move(opened.fd);
  if (!fd || !makeRaw(fd.get())) {
    if (error) *error = path + ": " + (fd ? std::strerror(errno) : opened.why);
    return false;
  }
  devicePath_ = path;
  std::lock_guard lock(mu_);
  line_.master = std::move(fd);
  line_.path = path;
  ++linesOpened_;
  return true;
}

std::string Simulator::path() const {
  std::lock_guard lock(mu_);
  return line_.path;
}

bool Simulator::reopen() {
  std::string error;
  const bool ok = devicePath_.empty() ? openPty(&error) : openDevice(devicePath_, &error);
  if (!ok && log_) log_("reopen failed: " + error);
  return ok;
}

std::unique_ptr<Simulator> Simulator::started(SimulatorOptions options, Log log, std::string* error) {
  auto sim = std::make_unique<Simulator>(std::move(options), std::move(log));
  if (!sim->openPty(error)) return nullptr;
  sim->start();
  return sim;
}

void Simulator::start() {
  stopping_ = false;
  thread_ = std::thread([this] {
    if (opt_.nice != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), opt_.nice);  // else as it is
    run();
  });
}

void Simulator::requestStop() {
  stopping_ = true;
  const char c = 1;
  [[maybe_unused]] auto n = ::write(wakeWrite_.get(), &c, 1);
}

void Simulator::stop() {
  requestStop();
  if (thread_.joinable()) thread_.join();
}

bool Simulator::sleepInterruptible(SteadyTime until) {
  while (!stopping_) {
    const auto left = until - steady_clock::now();
    if (left <= decltype(left)::zero()) return true;
    // A byte at 19200 baud takes half a millisecond, below poll's grain:
    // short waits sleep exactly and are not worth interrupting.
    if (left < std::chrono::milliseconds(2)) {
      std::this_thread::sleep_until(until);
      return !stopping_;
    }
    pollfd p{wakeRead_.get(), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
  }
  return false;
}

void Simulator::run() {
  std::uint8_t buf[512];
  while (!stopping_) {
    if (!line_.master) {
      if (!reopenPending_) {
        sleepInterruptible(steady_clock::now() + std::chrono::hours(1));
        continue;
      }
      if (!sleepInterruptible(reopenAt_)) break;
      reopenPending_ = false;
      reopen();
      continue;
    }
    pollfd p[2] = {{line_.master.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
    const int timeout = pending_.empty() ? -1 : static_cast<int>(opt_.frameGap.count());
    const int n = ::poll(p, 2, timeout);
    if (n < 0 && errno != EINTR) break;
    if (stopping_) break;
    if (n == 0 && !pending_.empty() && steady_clock::now() - lastByte_ >= opt_.frameGap) {
      fault("incomplete frame of " + std::to_string(pending_.size()) + " bytes dropped");
      pending_.clear();
      acceptedAt_.clear();
      continue;
    }
    if (p[0].revents & POLLIN) {
      const ssize_t k = ::read(line_.master.get(), buf, sizeof buf);
      if (k > 0) {
        onBytes(buf, static_cast<std::size_t>(k));
        processFrames();
      }
    } else if (p[0].revents & (POLLHUP | POLLERR)) {
      // Only a real device gets here (the pty's far side is held open): wait and retry.
      sleepInterruptible(steady_clock::now() + std::chrono::milliseconds(50));
    }
    if (opt_.exitWhenComplete && imageWritten_) {
      drainLine();
      break;
    }
  }
}

// Closing a pty's master discards what the far side has not read yet: wait
// until the last reply has been taken.
void Simulator::drainLine() {
  if (!line_.slaveHold) {
    ::tcdrain(line_.master.get());
    return;
  }
  // Written bytes reach the far side's queue a little later (the kernel
  // pushes them from a work queue), so an empty queue right away means nothing.
  sleepInterruptible(steady_clock::now() + std::chrono::milliseconds(50));
  const SteadyTime until = steady_clock::now() + std::chrono::seconds(2);
  int queued = 0;
  while (::ioctl(line_.slaveHold.get(), TIOCINQ, &queued) == 0 && queued > 0 && steady_clock::now() < until)
    sleepInterruptible(steady_clock::now() + std::chrono::milliseconds(5));
}

void Simulator::onBytes(const std::uint8_t* data, std::size_t n) {
  const SteadyTime now = steady_clock::now();
  lastByte_ = now;
  for (std::size_t i = 0; i < n; ++i) {
    // With pacing, a byte is only in once the line could have carried it.
    SteadyTime at = now;
    if (opt_.baud > 0) {
      at = std::max(now, lineFree_) + byteTime(opt_.baud);
      lineFree_ = at;
    }
    pending_.push_back(data[i]);
    acceptedAt_.push_back(at);
  }
}

void Simulator::hangUp() {
  {
    std::lock_guard lock(mu_);
    line_.master.reset();
    line_.slaveHold.reset();
  }
  pending_.clear();
  acceptedAt_.clear();
  if (log_) log_("hang-up");
  if (opt_.reopenAfterMs >= 0) {
    reopenPending_ = true;
    reopenAt_ = steady_clock::now() + std::chrono::milliseconds(opt_.reopenAfterMs);
  } else if (!opt_.linkPath.empty() && linkTarget(opt_.linkPath) == line_.path) {
    // A line that stays down is an adapter pulled out: its link goes with
    // it, or the pseudo-terminal's number, free for the next one made on
    // this machine, would be reached through it.
    ::unlink(opt_.linkPath.c_str());
  }
}

void Simulator::writePaced(const std::vector<std::uint8_t>& bytes) {
  const int fd = line_.master.get();
  if (opt_.baud <= 0) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t k = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (k > 0) {
        done += static_cast<std::size_t>(k);
      } else if (k < 0 && errno != EAGAIN && errno != EINTR) {
        return;
      } else {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
      }
    }
    return;
  }
  // Each byte reaches the far end one byte time after the previous one.
  SteadyTime at = std::max(steady_clock::now(), lineFree_);
  for (std::uint8_t b : bytes) {
    at += byteTime(opt_.baud);
    if (!sleepInterruptible(at)) return;
    if (::write(fd, &b, 1) < 0 && errno != EAGAIN) return;
  }
}

}  // namespace isp::sim
