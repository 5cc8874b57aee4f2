// The real POSIX port on pseudo-terminals, with the stand-in on the far side.
// Wall-clock bounds here are generous on purpose; exact timing is covered
// with a fake clock elsewhere and measured by the benchmark.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "identification.h"
#include "pty.h"
#include "result_codes.h"
#include "serial_posix.h"
#include "simulator.h"
#include "support/fixtures.h"

namespace isp::test {
namespace {

using WallClock = std::chrono::steady_clock;

long msSince(WallClock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(WallClock::now() - t0).count();
}

double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

sim::Pty cookedPty() {
  std::string error;
  sim::Pty p = sim::openPty(false, &error);
  EXPECT_FALSE(p.path.empty()) << error;
  return p;
}

// A raw 8N1 line both ways, set up from a cooked pty; silence is waited
// out, not spun through.
TEST(SerialPty, AllByteValuesPassUnchangedAndSilenceIsWaited) {
  sim::Pty pty = cookedPty();
  termios found{};
  ASSERT_EQ(::tcgetattr(pty.slaveHold.get(), &found), 0);
  PosixSerialPlatform platform(PortMap().set(4, pty.path));
  OpenResult o = platform.open(4);
  ASSERT_TRUE(o.port) << o.status.why;

  std::vector<std::uint8_t> all(256), in(256), back;
  std::iota(all.begin(), all.end(), 0);
  ASSERT_EQ(::write(pty.master.get(), all.data(), all.size()), 256);
  EXPECT_EQ(o.port->read(in).count, 256u);
  EXPECT_EQ(in, all);
  EXPECT_EQ(o.port->write(all).count, 256u);
  for (ssize_t k; back.size() < all.size() && (k = ::read(pty.master.get(), in.data(), in.size())) > 0;)
    back.insert(back.end(), in.begin(), in.begin() + k);
  EXPECT_EQ(back, all);

  termios t{};
  ASSERT_EQ(::tcgetattr(pty.slaveHold.get(), &t), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));

  const double cpu0 = threadCpuMs();
  const auto t0 = WallClock::now();
  EXPECT_EQ(o.port->read(in).count, 0u);
  EXPECT_GE(msSince(t0), 150);
  EXPECT_LT(threadCpuMs() - cpu0, 50.0) << "a silent port must not be polled in a loop";

  // The next program finds the line as it was: cooked, HUPCL and all.
  o.port.reset();
  termios left{};
  ASSERT_EQ(::tcgetattr(pty.slaveHold.get(), &left), 0);
  EXPECT_EQ(std::tie(left.c_iflag, left.c_oflag, left.c_cflag, left.c_lflag),
            std::tie(found.c_iflag, found.c_oflag, found.c_cflag, found.c_lflag));
  EXPECT_EQ(::cfgetospeed(&left), ::cfgetospeed(&found));
}

// Our programs meet at the lock file before the open: a live owner keeps
// the port, root or not; a dead one's lock is taken over; a folder that
// cannot hold locks leaves the port usable.
TEST(SerialPty, LockFilesBeforeTheOpen) {
  TempDir locks;
  sim::Pty pty = cookedPty();
  std::string node = std::filesystem::path(pty.path).lexically_relative("/dev").string();
  std::replace(node.begin(), node.end(), '/', '_');
  const std::filesystem::path name = locks.path() / ("LCK.." + node);
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string held = "COM1 (" + pty.path + ") is in use by another program (PID " + std::to_string(::getppid()) + ")";
  const std::string dir = locks.path().string(), pid = std::to_string(::getpid());
  const struct { const char* what; std::string dir, content, why; } cases[] = {
      {"held", dir, "      " + std::to_string(::getppid()) + "\n", held},
      {"stale", dir, std::to_string(dead) + "\n", ""},
      {"garbage", dir, "uucp\n", ""},
      {"no lock folder", dir + "/none", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(name);
    if (!c.content.empty()) std::ofstream(name) << c.content;
    PosixSerialPlatform platform(PortMap().set(1, pty.path), "/sys", c.dir);
    EXPECT_EQ(platform.check(1).why, c.why);
    OpenResult o = platform.open(1);
    EXPECT_EQ(o.status.why, c.why);
    if (!o.port || c.dir != dir) continue;
    std::string text;
    std::getline(std::ifstream(name), text);
    EXPECT_EQ(text, std::string(10 - pid.size(), ' ') + pid);
    o.port.reset();
    EXPECT_FALSE(std::filesystem::exists(name)) << "released on close";
  }
}

// A hang-up ends the exchange at once and closes the port; that the device
// is programmed once it is back, the window's unplug test shows.
TEST(SerialPty, HangUpMidRead) {
  auto dev = startSimulator({.device = {.hangupAt = 0}});
  PosixSerialPlatform platform(PortMap().set(6, dev->path()));
  Link link(platform);
  ASSERT_EQ(identify(link, 6, 0), rc::kOk);
  const double cpu0 = threadCpuMs();
  const auto t0 = WallClock::now();
  EXPECT_EQ(link.exchange(0, wire::Request::record(0)), rc::kNoReply);
  EXPECT_LT(msSince(t0), 1000);
  EXPECT_LT(threadCpuMs() - cpu0, 100.0) << "a dead port must not be polled in a loop";
  EXPECT_EQ(link.rec.openPort, 0) << "the dead port is closed";
  // The far end closed: the pty's node is gone, as an adapter's is when pulled out.
  EXPECT_EQ(link.portStatus().error, SerialError::Unplugged) << link.portStatus().why;
}

// A refused open names the group to join only when joining it would help.
TEST(SerialPty, PermissionHintReadsTheNodesMode) {
  TempDir dir;
  const std::string node = dir.write("ttyUSB0", {});
  const std::string group = ::getgrgid(::getegid())->gr_name;
  for (const mode_t mode : {0660, 0640, 0600}) {
    ::chmod(node.c_str(), mode);
    const PortStatus s = portStatusFromErrno(Port{"COM5", node}, EACCES);
    EXPECT_EQ(s.error, SerialError::AccessDenied);
    EXPECT_TRUE(s.why.starts_with("COM5 (" + node + "): Permission denied")) << s.why;
    EXPECT_EQ(s.why.find("group '" + group + "'") != std::string::npos, mode == 0660) << std::oct << mode << s.why;
  }
}

}  // namespace
}  // namespace isp::test
