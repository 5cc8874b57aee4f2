#include "serial/posix/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>
#include <utility>

#include "serial/posix/unique_fd.h"

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

// Folders where locks cannot be kept: the port is used without one.
bool noLocksHere(int err) { return err == ENOENT || err == EACCES || err == EROFS || err == EPERM; }

const char* kindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

// What sits at a lock path. Never follows a link, never opens anything but
// a regular file, never waits, reads a few bytes at most.
struct Found {
  bool present = false;
  pid_t pid = 0;  // the PID written in it, 0 when it names none
  dev_t dev = 0;
  ino_t ino = 0;
  std::string strange{};  // why it is no lock file, when it is not
};

// The PID a lock holds: ten characters and a newline, or, from programs of
// the older kind, the PID's own four bytes. 0 when it names none.
pid_t parsePid(const char* text, ssize_t size) {
  const std::string_view s(text, static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
  // As text: spaces, digits, an end of line and nothing else. Four bytes of a
  // binary PID may well begin with a digit ("2|" is 31794) and are not text.
  const std::size_t from = s.find_first_not_of(' ');
  const std::size_t to = from == s.npos ? s.npos : s.find_first_not_of("0123456789", from);
  const bool asText = from != s.npos && to != from && (to == s.npos || s.find_first_not_of("\r\n ", to) == s.npos);
  long pid = 0;
  if (asText) {
    std::from_chars(s.data() + from, s.data() + (to == s.npos ? s.size() : to), pid);
  } else if (s.size() == sizeof(std::int32_t)) {
    std::int32_t binary = 0;
    std::memcpy(&binary, s.data(), sizeof binary);
    pid = binary;
  }
  return pid > 0 && pid <= 0x3fffffff ? static_cast<pid_t>(pid) : 0;
}

Found inspect(const std::string& path) {
  const auto odd = [&](const std::string& what) {
    return Found{true, 0, 0, 0, path + " is " + what + ", not a lock file"};
  };
  const auto unreadable = [&](int err) {
    return Found{true, 0, 0, 0, path + " cannot be read: " + std::strerror(err)};
  };
  struct stat st {};
  // A folder that cannot be searched holds no lock we could see or take:
  // taking one tells the same as for a folder that is not there.
  if (::lstat(path.c_str(), &st) != 0) return noLocksHere(errno) || errno == ENOTDIR ? Found{} : unreadable(errno);
  if (!S_ISREG(st.st_mode)) return odd(kindOf(st.st_mode));
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return {};
    if (errno == ELOOP) return odd(kindOf(S_IFLNK));
    return unreadable(errno);
  }
  // Swapped for something else since the lstat: judge what was opened.
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return odd(kindOf(st.st_mode));
  char text[32] = {};
  ssize_t k;
  while ((k = ::read(fd.get(), text, sizeof text - 1)) < 0 && errno == EINTR) {
  }
  return {true, parsePid(text, k), st.st_dev, st.st_ino};
}

bool alive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// A name in the lock folder that nobody else can know in advance: the PID
// alone is guessed, and is shared by every thread of a run.
std::string privateName(const std::string& dir) {
  std::random_device rd;
  char text[64];
  std::snprintf(text, sizeof text, "/LCK.%d.%08x%08x", static_cast<int>(::getpid()), rd(), rd());
  return dir + text;
}

// The lock's content, written whole under a name of our own before it is
// linked into place, so that nobody ever reads a lock without its PID.
// O_EXCL and O_NOFOLLOW: a link or file planted at that name is never used.
struct Draft {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  int error = 0;
};

Draft writeDraft(const std::string& dir) {
  Draft d;
  for (int attempt = 0; attempt < 8; ++attempt) {
    d.path = privateName(dir);
    UniqueFd fd(::open(d.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd && errno == EEXIST) continue;
    if (!fd) return {{}, 0, 0, noLocksHere(errno) ? 0 : errno};
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    struct stat st {};
    errno = 0;
    // Readable by all whatever the umask: others must see who holds the port.
    if (::fchmod(fd.get(), 0644) != 0 || ::write(fd.get(), text, static_cast<std::size_t>(len)) != len ||
        ::fstat(fd.get(), &st) != 0) {
      d.error = errno ? errno : EIO;
      ::unlink(d.path.c_str());
      return {{}, 0, 0, d.error};
    }
    d.dev = st.st_dev;
    d.ino = st.st_ino;
    return d;
  }
  return {{}, 0, 0, EEXIST};
}

bool sameFile(const std::string& path, dev_t dev, ino_t ino) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

}  // namespace

PortLock::Result PortLock::look(const std::string& dir, const std::string& node) {
  const Found found = inspect(lockPath(dir, node));
  Result r;
  r.blocked = found.strange;
  if (found.strange.empty() && alive(found.pid)) r.holder = found.pid;
  return r;
}

PortLock::Result PortLock::take(const std::string& dir, const std::string& node) {
  const std::string path = lockPath(dir, node);
  Result r;
  const Draft draft = writeDraft(dir);
  if (draft.path.empty()) {
    r.error = draft.error;
    r.inFolder = r.error != 0 && r.error != EEXIST;
    return r;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::link(draft.path.c_str(), path.c_str()) == 0) {
      r.lock = PortLock(path, draft.dev, draft.ino);
      break;
    }
    if (errno != EEXIST) {
      r.error = noLocksHere(errno) ? 0 : errno;
      r.inFolder = r.error != 0;
      break;
    }
    const Found found = inspect(path);
    if (!found.strange.empty()) {
      r.blocked = found.strange;
      break;
    }
    if (alive(found.pid)) {
      r.holder = found.pid;
      break;
    }
    // Left by a process that has ended: ours to take, if it is still the
    // file we read and not one somebody has just put there. (Between the
    // look and the unlink another taker may still slip in; our own
    // programs are kept apart then by the flock on the open port.)
    if (found.present && sameFile(path, found.dev, found.ino) && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
      // Another user's, in a sticky folder: said as it is, so that the user
      // knows what to remove, or whom to ask.
      r.blocked = path +
                  (found.pid ? " was left by PID " + std::to_string(found.pid) + ", which is not running,"
                             : " names no program") +
                  " and cannot be removed: " + std::strerror(errno);
      break;
    }
  }
  // Taken over twice and lost twice: somebody else is taking it right now.
  if (!r.lock.held() && r.holder == 0 && r.blocked.empty() && r.error == 0 && inspect(path).present) r.error = EBUSY;
  ::unlink(draft.path.c_str());
  return r;
}

void PortLock::release() {
  // Only our own file: what somebody else put there in our name stays.
  if (held() && sameFile(path_, dev_, ino_)) ::unlink(path_.c_str());
  path_.clear();
}

PortLock::PortLock(PortLock&& o) noexcept : path_(std::exchange(o.path_, {})), dev_(o.dev_), ino_(o.ino_) {}

PortLock& PortLock::operator=(PortLock&& o) noexcept {
  if (this != &o) {
    release();
    path_ = std::exchange(o.path_, {});
    dev_ = o.dev_;
    ino_ = o.ino_;
  }
  return *this;
}

PortLock::~PortLock() { release(); }

}  // namespace isp
