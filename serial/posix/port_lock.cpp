#include "port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

namespace isp {

namespace {

namespace fs = std::filesystem;

// "LCK..ttyUSB0" for /dev/ttyUSB0 and any link to it; "LCK..pts_3" for /dev/pts/3.
std::string lockPath(const std::string& dir, const std::string& node) {
  std::error_code ec;
  fs::path real = fs::canonical(node, ec);
  if (ec) real = node;
  std::string name = real.lexically_relative("/dev").string();
  if (name.empty() || name.starts_with("..")) name = real.filename().string();
  for (char& c : name)
    if (c == '/') c = '_';
  return dir + "/LCK.." + name;
}

// The PID a lock file names, 0 when it names none.
pid_t ownerIn(const std::string& path) {
  std::ifstream in(path);
  long pid = 0;
  if (!(in >> pid) || pid <= 0 || pid > 0x3fffffff) return 0;
  return static_cast<pid_t>(pid);
}

bool alive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Folders where locks cannot be kept: the port is used without one.
bool noLocksHere(int err) { return err == ENOENT || err == EACCES || err == EROFS || err == EPERM; }

}  // namespace

pid_t PortLock::holder(const std::string& dir, const std::string& node) {
  const pid_t pid = ownerIn(lockPath(dir, node));
  return alive(pid) ? pid : 0;
}

PortLock::Result PortLock::take(const std::string& dir, const std::string& node) {
  const std::string path = lockPath(dir, node);
  // Written whole under a name of our own, then linked into place, so that
  // nobody ever reads a lock without its PID.
  const std::string mine = dir + "/LCK." + std::to_string(::getpid()) + ".tmp";
  const int fd = ::open(mine.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return {PortLock(), 0, noLocksHere(errno) ? 0 : errno};
  char text[16];
  const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  const bool written = ::write(fd, text, static_cast<std::size_t>(len)) == len;
  Result r;
  if (!written) r.error = errno ? errno : EIO;
  ::close(fd);
  for (int attempt = 0; written && attempt < 2; ++attempt) {
    if (::link(mine.c_str(), path.c_str()) == 0) {
      r.lock = PortLock(path);
      break;
    }
    if (errno != EEXIST) {
      r.error = noLocksHere(errno) ? 0 : errno;
      break;
    }
    r.holder = ownerIn(path);
    if (alive(r.holder)) break;
    // Left by a process that has ended: ours to take.
    r.holder = 0;
    ::unlink(path.c_str());
  }
  // Taken over twice and lost twice: somebody else is taking it right now.
  if (written && !r.lock.held() && r.holder == 0 && r.error == 0 && ::access(path.c_str(), F_OK) == 0) r.error = EBUSY;
  ::unlink(mine.c_str());
  return r;
}

PortLock::PortLock(PortLock&& o) noexcept : path_(std::exchange(o.path_, {})) {}

PortLock& PortLock::operator=(PortLock&& o) noexcept {
  if (this != &o) {
    if (held()) ::unlink(path_.c_str());
    path_ = std::exchange(o.path_, {});
  }
  return *this;
}

PortLock::~PortLock() {
  if (held()) ::unlink(path_.c_str());
}

}  // namespace isp
