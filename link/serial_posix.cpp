#include "serial_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "timed_port.h"
#include "unique_fd.h"

namespace isp {

SerialError serialErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return SerialError::NotFound;
    case EBUSY:
    case EWOULDBLOCK:
      return SerialError::Busy;
    case EACCES:
    case EPERM:
      return SerialError::AccessDenied;
    case ENOTTY:
      return SerialError::NotASerialPort;
    case EIO:
    case EPIPE:
      return SerialError::Disconnected;
    default:
      return SerialError::Io;
  }
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
  explicit FdChannel(UniqueFd fd) : fd_(std::move(fd)) {}

  Wait waitReadable(int ms) override { return wait(POLLIN, ms); }
  Wait waitWritable(int ms) override { return wait(POLLOUT, ms); }

  long readSome(std::span<std::uint8_t> bytes) override {
    const ssize_t k = ::read(fd_.get(), bytes.data(), bytes.size());
    if (k > 0) return static_cast<long>(k);
    // A read of 0 after poll said readable is a hang-up, never "try again".
    if (k == 0) return -1;
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
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

  UniqueFd fd_;
};

struct Opened {
  UniqueFd fd;
  SerialError error = SerialError::None;
};

// Opens without waiting for carrier, without becoming the controlling
// terminal, without leaking into children, and holds an exclusive lock:
// TIOCEXCL alone does not stop root, flock does.
Opened openExclusive(const std::string& path) {
  if (path.empty()) return {UniqueFd(), SerialError::NotFound};
  UniqueFd fd(retryOnEintr([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
  if (!fd) return {UniqueFd(), serialErrorFromErrno(errno)};
  if (retryOnEintr([&] { return ::flock(fd.get(), LOCK_EX | LOCK_NB); }) != 0)
    return {UniqueFd(), serialErrorFromErrno(errno)};
  termios t{};
  if (::tcgetattr(fd.get(), &t) != 0) return {UniqueFd(), SerialError::NotASerialPort};
  return {std::move(fd), SerialError::None};
}

// ENOTTY or EINVAL: a pseudo-terminal has no modem lines.
bool modemIoctlFailed(int rc) { return rc != 0 && errno != ENOTTY && errno != EINVAL; }

bool lowerDtrRts(int fd) {
  int bits = TIOCM_DTR | TIOCM_RTS;
  return !modemIoctlFailed(::ioctl(fd, TIOCMBIC, &bits));
}

speed_t speedFor(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B19200;
  }
}

// Every field is set: whatever the previous program left persists otherwise.
SerialError configure(int fd, const LineSettings& line) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return serialErrorFromErrno(errno);
  ::cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT |
                                      PARMRK | INLCR | IGNCR | ICRNL | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= static_cast<tcflag_t>(CS8 | CLOCAL | CREAD);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speedFor(line.baud));
  ::cfsetospeed(&t, speedFor(line.baud));
  if (retryOnEintr([&] { return ::tcsetattr(fd, TCSANOW, &t); }) != 0) return serialErrorFromErrno(errno);

  // tcsetattr succeeds when any one change took: read back and compare.
  termios back{};
  if (::tcgetattr(fd, &back) != 0) return serialErrorFromErrno(errno);
  const tcflag_t cmask = CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD;
  if (back.c_iflag != t.c_iflag || back.c_oflag != t.c_oflag || back.c_lflag != t.c_lflag ||
      (back.c_cflag & cmask) != (t.c_cflag & cmask) || ::cfgetospeed(&back) != ::cfgetospeed(&t) ||
      ::cfgetispeed(&back) != ::cfgetispeed(&t))
    return SerialError::Io;
  return SerialError::None;
}

// /sys/class/tty/ttyS*/type is 0 for a UART slot with no hardware behind it:
// such a node is never opened, so probing disturbs nothing there.
bool emptyUartSlot(const std::string& path) {
  char resolved[PATH_MAX];
  if (!::realpath(path.c_str(), resolved)) return false;
  std::string base(resolved);
  base = base.substr(base.find_last_of('/') + 1);
  if (base.rfind("ttyS", 0) != 0) return false;
  std::ifstream type("/sys/class/tty/" + base + "/type");
  int value = -1;
  return (type >> value) && value == 0;
}

}  // namespace

PosixSerialPlatform::PosixSerialPlatform(PortMap map, MonotonicClock& clock, LineSettings line)
    : map_(std::move(map)), clock_(clock), line_(line) {}

OpenResult PosixSerialPlatform::open(int port) { return openPath(map_.path(port)); }

OpenResult PosixSerialPlatform::openPath(const std::string& path) {
  Opened o = openExclusive(path);
  if (!o.fd) return {nullptr, o.error};
  const int fd = o.fd.get();
  ::ioctl(fd, TIOCEXCL);  // keeps out non-root openers that do not flock
  if (!lowerDtrRts(fd)) return {nullptr, serialErrorFromErrno(errno)};
  if (SerialError e = configure(fd, line_); e != SerialError::None) return {nullptr, e};
  // The kernel raised DTR and RTS on open; lower them again now that the line is set.
  if (!lowerDtrRts(fd)) return {nullptr, serialErrorFromErrno(errno)};
  ::tcflush(fd, TCIOFLUSH);
  auto channel = std::make_unique<FdChannel>(std::move(o.fd));
  return {std::make_unique<TimedPort>(std::move(channel), clock_, line_), SerialError::None};
}

bool PosixSerialPlatform::present(int port) {
  const std::string& path = map_.path(port);
  if (path.empty() || emptyUartSlot(path)) return false;
  return static_cast<bool>(openExclusive(path).fd);
}

}  // namespace isp
