#include "sim/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

namespace isp::sim {

bool makeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  ::cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB);
  t.c_cflag |= static_cast<tcflag_t>(CS8 | CLOCAL | CREAD);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B19200);
  ::cfsetospeed(&t, B19200);
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

Pty openPty(bool raw, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return Pty{};
  };
  Pty p;
  p.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!p.master) return fail("posix_openpt");
  if (::grantpt(p.master.get()) != 0) return fail("grantpt");
  if (::unlockpt(p.master.get()) != 0) return fail("unlockpt");
  char name[128];
  if (::ptsname_r(p.master.get(), name, sizeof name) != 0) return fail("ptsname");
  p.slaveHold.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!p.slaveHold) return fail(name);
  // One termios serves both ends: set it before anyone talks.
  if (raw && !makeRaw(p.slaveHold.get())) return fail("tcsetattr");
  const int flags = ::fcntl(p.master.get(), F_GETFL);
  ::fcntl(p.master.get(), F_SETFL, flags | O_NONBLOCK);
  p.path = name;
  return p;
}

}  // namespace isp::sim
