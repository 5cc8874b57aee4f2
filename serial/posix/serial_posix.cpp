#include "serial/posix/serial_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "serial/posix/path_walk.h"
#include "serial/posix/port_lock.h"
#include "serial/posix/sysfs.h"
#include "serial/posix/unique_fd.h"
#include "serial/timed_port.h"

namespace isp {

SerialError serialErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return SerialError::NotFound;
    case EBUSY:
    case EWOULDBLOCK: return SerialError::Busy;
    case EACCES:
    case EPERM: return SerialError::AccessDenied;
    case ENOTTY:
    case EISDIR: return SerialError::NotASerialPort;
    case EIO:
    case EPIPE: return SerialError::Disconnected;
    default: return SerialError::Io;
  }
}

SystemCause systemCause(int code) {
  switch (code) {
    case 0: return SystemCause::None;
    case EACCES:
    case EPERM: return SystemCause::Permission;
    case EBUSY:
    case EWOULDBLOCK:
    case ETXTBSY: return SystemCause::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return SystemCause::Absent;
    case ENOTTY: return SystemCause::NotASerialPort;
    case EISDIR: return SystemCause::NotARegularFile;
    case ELOOP: return SystemCause::UnsafePath;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return SystemCause::NoSpace;
    case EROFS: return SystemCause::ReadOnly;
    case EIO: return SystemCause::Io;
    default: return SystemCause::Other;
  }
}

namespace {

// The group whose members may open the node, when joining it would help:
// its members may read and write it.
std::string openingGroup(const std::string& node) {
  struct stat st {};
  if (::stat(node.c_str(), &st) != 0) return {};
  const group* g = ::getgrgid(st.st_gid);
  return g && (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP) ? g->gr_name : "";
}

}  // namespace

PortStatus portStatusFromErrno(const Port& port, int err) {
  if (err == 0) return {};
  const SerialError e = serialErrorFromErrno(err);
  PortStatus status = portStatus(port, e, std::strerror(err), err);
  if (e == SerialError::AccessDenied) {
    status.group = openingGroup(port.node);
    status.why += status.group.empty() ? ": only its owner may open it"
                                       : ": the user must be in the group '" + status.group + "' (then log out and in)";
  }
  return status;
}

namespace {

template <typename F>
auto retryOnEintr(F f) {
  for (;;) {
    auto r = f();
    if (r != -1 || errno != EINTR) return r;
  }
}

class FdChannel final : public ByteChannel {
 public:
  // found: the line's settings before we changed them, put back on close.
  FdChannel(UniqueFd fd, const termios& found, PortLock lock)
      : lock_(std::move(lock)), fd_(std::move(fd)), found_(found) {}
  ~FdChannel() override {
    // The next program finds the line as we found it: open to others again
    // where the line outlives us (a pty, a port another process holds too),
    // settings and HUPCL as they were. On a device that has gone these
    // fail, which is fine.
    ::ioctl(fd_.get(), TIOCNXCL);
    ::tcsetattr(fd_.get(), TCSANOW, &found_);
  }

  Wait waitReadable(int ms) override { return wait(POLLIN, ms); }
  Wait waitWritable(int ms) override { return wait(POLLOUT, ms); }

  long readSome(std::span<std::uint8_t> bytes) override {
    const ssize_t k = ::read(fd_.get(), bytes.data(), bytes.size());
    if (k > 0) return static_cast<long>(k);
    // A read of 0 after poll said readable is a hang-up, never "try again".
    if (k == 0) return -1;
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
  }

  void discardInput() override { ::tcflush(fd_.get(), TCIFLUSH); }

  std::string found() const override {
    const speed_t speed = ::cfgetospeed(&found_);
    const std::pair<speed_t, const char*> rates[] = {{B1200, "1200"},   {B2400, "2400"},    {B4800, "4800"},
                                                     {B9600, "9600"},   {B19200, "19200"},  {B38400, "38400"},
                                                     {B57600, "57600"}, {B115200, "115200"}};
    std::string words = "another speed";
    for (const auto& [s, text] : rates)
      if (s == speed) words = text;
    const tcflag_t c = found_.c_cflag;
    const char bits = (c & CSIZE) == CS5 ? '5' : (c & CSIZE) == CS6 ? '6' : (c & CSIZE) == CS7 ? '7' : '8';
    const char parity = !(c & PARENB) ? 'N' : (c & PARODD) ? 'O' : 'E';
    words += std::string(" ") + bits + parity + ((c & CSTOPB) ? '2' : '1');
    if (c & CRTSCTS) words += ", RTS/CTS flow control";
    if (found_.c_iflag & (IXON | IXOFF)) words += ", XON/XOFF";
    if (found_.c_lflag & ICANON) words += ", lines (canonical)";
    return words;
  }

  long writeSome(std::span<const std::uint8_t> bytes) override {
    const ssize_t k = ::write(fd_.get(), bytes.data(), bytes.size());
    if (k >= 0) return static_cast<long>(k);
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
  }

 private:
  Wait wait(short events, int ms) {
    pollfd p{fd_.get(), events, 0};
    const int n = ::poll(&p, 1, ms);
    if (n == 0 || (n < 0 && errno == EINTR)) return Wait::TimedOut;
    if (n < 0) return Wait::HungUp;
    if (p.revents & events) return Wait::Ready;
    return Wait::HungUp;  // POLLHUP, POLLERR or POLLNVAL without data
  }

  PortLock lock_;  // released after the descriptor is closed
  UniqueFd fd_;
  termios found_;
};

struct Opened {
  UniqueFd fd;
  int err = 0;  // errno of the failure
  termios found{};
  std::string refused{};  // the walk's words, when it refused a link on the way
};

// Opens without waiting for carrier, without becoming the controlling
// terminal, without leaking into children, and holds an exclusive lock
// against programs that flock rather than use lock files.
Opened openExclusive(const std::string& path) {
  if (path.empty()) return {UniqueFd(), ENOENT};
  // A link in a folder others may write is followed only when its owner may
  // be trusted, as for any file the user names.
  WalkedPath opened = openWalked(path, O_RDWR | O_NOCTTY | O_NONBLOCK, 0, PathUse::Port);
  if (!opened.fd) return {UniqueFd(), opened.err, {}, opened.why};
  UniqueFd fd = std::move(opened.fd);
  termios found{};
  if (::tcgetattr(fd.get(), &found) != 0) return {UniqueFd(), ENOTTY};
  if (retryOnEintr([&] { return ::flock(fd.get(), LOCK_EX | LOCK_NB); }) != 0) return {UniqueFd(), errno};
  return {std::move(fd), 0, found};
}

// ENOTTY or EINVAL: a pseudo-terminal has no modem lines.
bool modemIoctlFailed(int rc) { return rc != 0 && errno != ENOTTY && errno != EINVAL; }

bool lowerDtrRts(int fd) {
  int bits = TIOCM_DTR | TIOCM_RTS;
  return !modemIoctlFailed(::ioctl(fd, TIOCMBIC, &bits));
}

// B0 for a rate termios has no constant for.
speed_t speedFor(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

// Every field is set: whatever the previous program left persists otherwise.
// Returns an errno value, 0 when the line is set as asked.
int configure(int fd, const LineSettings& line) {
  const speed_t speed = speedFor(line.baud);
  if (speed == B0) return EINVAL;
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return errno;
  ::cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK | INLCR | IGNCR |
                                      ICRNL | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= static_cast<tcflag_t>(CS8 | CLOCAL | CREAD);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (retryOnEintr([&] { return ::tcsetattr(fd, TCSANOW, &t); }) != 0) return errno;

  // tcsetattr succeeds when any one change took: read back and compare.
  termios back{};
  if (::tcgetattr(fd, &back) != 0) return errno;
  const tcflag_t cmask = CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD;
  if (back.c_iflag != t.c_iflag || back.c_oflag != t.c_oflag || back.c_lflag != t.c_lflag ||
      (back.c_cflag & cmask) != (t.c_cflag & cmask) || ::cfgetospeed(&back) != ::cfgetospeed(&t) ||
      ::cfgetispeed(&back) != ::cfgetispeed(&t))
    return EINVAL;
  return 0;
}

}  // namespace

PosixSerialPlatform::PosixSerialPlatform(PortMap map, std::string sysfsRoot, std::string lockDir)
    : map_(std::move(map)), sysfsRoot_(std::move(sysfsRoot)), lockDir_(std::move(lockDir)) {}

Port PosixSerialPlatform::port(const PortTarget& target) const {
  Port p = map_.port(target);
  if (!p.node.empty()) p.adapter = sysfs::usbAdapter(sysfsRoot_, p.node);
  return p;
}

namespace {
// Why the lock keeps the port from us, when it does.
PortStatus lockRefusal(const Port& p, const PortLock::Result& lock) {
  if (!lock.blocked.empty())
    return {.error = SerialError::Busy,
            .why = portStatus(p, SerialError::Io, lock.blocked + "; the port is left alone").why,
            .code = lock.error,
            .lock = true};
  PortStatus s = portStatus(p, SerialError::Busy, {});
  s.why += " (PID " + std::to_string(lock.holder) + ")";
  s.holder = lock.holder;
  return s;
}
}  // namespace

OpenResult PosixSerialPlatform::open(const PortTarget& target) {
  const Port p = map_.port(target);
  if (p.node.empty()) return {nullptr, portStatusFromErrno(p, ENOENT)};
  // Our programs meet at the lock file before anything touches the line:
  // the open alone would raise DTR and RTS under a running transfer.
  PortLock::Result locked = PortLock::take(lockDir_, p.node);
  if (locked.holder != 0 || !locked.blocked.empty()) return {nullptr, lockRefusal(p, locked)};
  if (locked.error != 0 && locked.inFolder)
    return {nullptr, portStatus(p, SerialError::Io, "the lock folder " + lockDir_ + ": " + std::strerror(locked.error),
                                locked.error)};
  if (locked.error != 0) return {nullptr, portStatusFromErrno(p, locked.error)};
  Opened o = openExclusive(p.node);
  if (!o.fd && o.err == ELOOP && !o.refused.empty())
    return {nullptr,
            {.error = SerialError::AccessDenied, .why = portStatus(p, SerialError::Io, o.refused).why, .code = ELOOP}};
  if (!o.fd) return {nullptr, portStatusFromErrno(p, o.err)};
  const int fd = o.fd.get();
  ::ioctl(fd, TIOCEXCL);  // keeps out non-root openers that take no lock
  auto channel = std::make_unique<FdChannel>(std::move(o.fd), o.found, std::move(locked.lock));
  if (!lowerDtrRts(fd)) return {nullptr, portStatusFromErrno(p, errno)};
  if (const int err = configure(fd, line_); err != 0) return {nullptr, portStatusFromErrno(p, err)};
  // The kernel raised DTR and RTS on open; lower them again now that the line is set.
  if (!lowerDtrRts(fd)) return {nullptr, portStatusFromErrno(p, errno)};
  ::tcflush(fd, TCIOFLUSH);
  return {std::make_unique<TimedPort>(std::move(channel), SteadyClock::instance(), line_), {}};
}

// Presence from the node and sysfs, permission from access(), our own
// programs' hold from the lock file: nothing here opens the device.
PortStatus PosixSerialPlatform::check(const PortTarget& target) {
  const Port p = map_.port(target);
  if (p.node.empty()) return portStatusFromErrno(p, ENOENT);
  if (sysfs::emptyUartSlot(sysfsRoot_, p.node))
    return {.error = SerialError::NotFound, .why = p.node + " has no UART behind it"};
  struct stat st {};
  if (::stat(p.node.c_str(), &st) != 0) return portStatusFromErrno(p, errno);
  if (!S_ISCHR(st.st_mode)) return portStatusFromErrno(p, ENOTTY);
  if (::faccessat(AT_FDCWD, p.node.c_str(), R_OK | W_OK, AT_EACCESS) != 0) return portStatusFromErrno(p, errno);
  if (const PortLock::Result lock = PortLock::look(lockDir_, p.node); lock.holder != 0 || !lock.blocked.empty())
    return lockRefusal(p, lock);
  return {};
}

PortStatus PosixSerialPlatform::whyGone(const PortTarget& target) {
  const Port p = map_.port(target);
  // An adapter's node goes a moment after its line hangs up, once the
  // kernel has taken the device down.
  SteadyClock& clock = SteadyClock::instance();
  const Deadline until = Deadline::after(clock, milliseconds(250));
  for (;;) {
    if (::access(p.node.c_str(), F_OK) != 0 && errno == ENOENT) return portStatus(p, SerialError::Unplugged, {});
    if (until.passed(clock.now())) return portStatus(p, SerialError::Disconnected, "the line hung up");
    std::this_thread::sleep_for(milliseconds(10));
  }
}

}  // namespace isp
