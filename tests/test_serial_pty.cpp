// The real POSIX port on pseudo-terminals, with the stand-in on the far side.
// Wall-clock bounds here are generous on purpose; exact timing is covered
// with a fake clock elsewhere and measured by the benchmark.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <thread>
#include <tuple>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "link/identification.h"
#include "link/result_codes.h"
#include "serial/posix/port_lock.h"
#include "serial/posix/serial_posix.h"
#include "serial/posix/sysfs.h"
#include "sim/pty.h"
#include "sim/simulator.h"
#include "tests/support/fixtures.h"

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
// cannot hold locks leaves the port usable. The folder is one anybody may
// write: whatever is planted there is refused at once, followed nowhere,
// and what it points at is never written.
TEST(SerialPty, LockFilesBeforeTheOpen) {
  namespace fs = std::filesystem;
  TempDir locks;
  sim::Pty pty = cookedPty();
  std::string node = fs::path(pty.path).lexically_relative("/dev").string();
  std::replace(node.begin(), node.end(), '/', '_');
  const fs::path name = locks.path() / ("LCK.." + node);
  const std::string victim = locks.write("victim", {'k', 'e', 'e', 'p'});
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string label = "COM1 (" + pty.path + ")";
  const std::int32_t parent = ::getppid();
  const std::string held = label + " is in use by another program (PID " + std::to_string(::getppid()) + ")";
  const auto refused = [&](const std::string& what) {
    return label + ": " + name.string() + " is " + what + ", not a lock file; the port is left alone";
  };
  const std::string dir = locks.path().string(), pid = std::to_string(::getpid());
  const struct {
    const char* what;
    std::function<void()> plant;
    std::string dir, why;
  } cases[] = {
      {"held", [&] { std::ofstream(name) << "      " << ::getppid() << "\n"; }, dir, held},
      {"held, in the older binary form",
       [&] { std::ofstream(name) << std::string(reinterpret_cast<const char*>(&parent), 4); }, dir, held},
      {"stale", [&] { std::ofstream(name) << dead << "\n"; }, dir, ""},
      {"garbage", [&] { std::ofstream(name) << "uucp\n"; }, dir, ""},
      {"no lock folder", [] {}, dir + "/none", ""},
      // Where the draft of the lock used to be written, by a name anybody could guess.
      {"a link at the draft's name", [&] { fs::create_symlink(victim, locks.path() / ("LCK." + pid + ".tmp")); }, dir,
       ""},
      {"a link at the lock", [&] { fs::create_symlink(victim, name); }, dir, refused("a symbolic link")},
      {"a FIFO at the lock", [&] { ::mkfifo(name.c_str(), 0644); }, dir, refused("a FIFO")},
      {"a folder at the lock", [&] { fs::create_directory(name); }, dir, refused("a folder")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(locks.path()))
      if (entry.path() != victim) fs::remove(entry.path());
    c.plant();
    PosixSerialPlatform platform(PortMap().set(1, pty.path), "/sys", c.dir);
    auto asking = std::async(std::launch::async, [&] {
      std::string checked = platform.check(1).why;
      return std::pair{checked, platform.open(1)};
    });
    bool waited = false;
    // Refused at once; a few seconds only so that a loaded machine never reads as waiting.
    for (; asking.wait_for(std::chrono::seconds(3)) != std::future_status::ready; waited = true)
      UniqueFd(::open(name.c_str(), O_WRONLY | O_NONBLOCK));  // lets a reader of the FIFO go
    EXPECT_FALSE(waited) << "waits on what is at the lock path";
    auto [checked, o] = asking.get();
    EXPECT_EQ(checked, c.why);
    EXPECT_EQ(o.status.why, c.why);
    std::ifstream kept(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
    if (!o.port || c.dir != dir) continue;
    std::string text;
    std::getline(std::ifstream(name), text);
    EXPECT_EQ(text, std::string(10 - pid.size(), ' ') + pid);
    EXPECT_EQ(fs::status(name).permissions() & fs::perms::others_read, fs::perms::others_read)
        << "others see who holds it";
    o.port.reset();
    EXPECT_FALSE(fs::exists(name)) << "released on close";
  }
}

// Every thread of a run takes the lock of its own port, all at once, and
// each holds it: no draft of one is taken for another's.
TEST(SerialPty, LocksTakenAtOnceByManyThreads) {
  TempDir locks;
  constexpr int kPorts = 8;
  std::vector<std::string> nodes;
  for (int i = 0; i < kPorts; ++i) nodes.push_back(locks.write("ttyX" + std::to_string(i), {}));
  const std::string dir = (locks.path() / "lock").string();
  std::filesystem::create_directory(dir);
  int unheld = 0;
  for (int round = 0; round < 20; ++round) {
    std::vector<PortLock::Result> taken(kPorts);
    std::atomic<int> ready = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < kPorts; ++i)
      threads.emplace_back([&, i] {
        for (++ready; ready < kPorts;) std::this_thread::yield();
        taken[static_cast<std::size_t>(i)] = PortLock::take(dir, nodes[static_cast<std::size_t>(i)]);
      });
    for (std::thread& t : threads) t.join();
    for (const PortLock::Result& r : taken) unheld += !r.lock.held();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), kPorts) << "a lock each, no draft left";
  }
  EXPECT_EQ(unheld, 0);
}

// The exclusive hold ends with the program: where the line outlives it, as
// a stand-in's pty does, the next program of a user who is not root opens
// it as this one did.
TEST(SerialPty, TwoUnprivilegedRunsInARow) {
  sim::Pty pty = cookedPty();
  ASSERT_EQ(::chmod(pty.path.c_str(), 0666), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
    PosixSerialPlatform platform(PortMap().set(1, pty.path), "/sys", "/nonexistent");
    for (int run = 1; run <= 2; ++run)
      if (!platform.open(1).port) ::_exit(run);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1 or 2: that run could not open the port";
}

// A hang-up ends the exchange at once and closes the port; that the device
// is programmed once it is back, the window's unplug test shows.
TEST(SerialPty, HangUpMidRead) {
  auto dev = startSimulator({.device = {.hangupAt = 0}});
  PosixSerialPlatform platform(PortMap().set(6, dev->path()));
  Link link(platform);
  ASSERT_EQ(identify(link, 6, 0).code, rc::kOk);
  const double cpu0 = threadCpuMs();
  const auto t0 = WallClock::now();
  EXPECT_EQ(link.exchange(6, 0, wire::Request::record(0), std::vector<std::uint8_t>(wire::kRecordSize)).code,
            rc::kNoReply);
  EXPECT_LT(msSince(t0), 1000);
  EXPECT_LT(threadCpuMs() - cpu0, 100.0) << "a dead port must not be polled in a loop";
  EXPECT_EQ(link.openPort(), 0) << "the dead port is closed";
  // The far end closed: the pty's node is gone, as an adapter's is when pulled out.
  EXPECT_EQ(link.portStatus().error, SerialError::Unplugged) << link.portStatus().why;
}

// What --list and the report say of an adapter, read from a sysfs tree of
// the test's own: a USB converter, a modem-class board, a device that gives
// no maker, product or serial, and a UART on the main board, whose slot is
// empty or not.
TEST(SerialPty, AdapterTextFromSysfs) {
  namespace fs = std::filesystem;
  TempDir root;
  const auto write = [&](const std::string& file, const std::string& text) {
    fs::create_directories((root.path() / file).parent_path());
    std::ofstream(root.path() / file) << text << "\n";
  };
  for (const auto& [name, device] :
       std::vector<std::pair<std::string, std::string>>{{"ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0"},
                                                        {"ttyACM0", "usb1/1-2/1-2:1.0"},
                                                        {"ttyUSB1", "usb1/1-3/1-3:1.0/ttyUSB1"},
                                                        {"ttyS0", "platform/serial8250/tty/ttyS0"},
                                                        {"ttyS1", "platform/serial8250/tty/ttyS1"}}) {
    fs::create_directories(root.path() / "devices" / device);
    fs::create_directories(root.path() / "class/tty" / name);
    fs::create_directory_symlink(root.path() / "devices" / device, root.path() / "class/tty" / name / "device");
  }
  for (const auto& [file, text] : std::vector<std::pair<std::string, std::string>>{{"1-1/idVendor", "0403"},
                                                                                   {"1-1/idProduct", "6001"},
                                                                                   {"1-1/manufacturer", "Maker"},
                                                                                   {"1-1/product", "Cable"},
                                                                                   {"1-1/serial", "A5"},
                                                                                   {"1-2/idVendor", "1d50"},
                                                                                   {"1-2/idProduct", "6018"},
                                                                                   {"1-2/product", "Board"},
                                                                                   {"1-3/idVendor", "1a86"},
                                                                                   {"1-3/idProduct", "7523"}})
    write("devices/usb1/" + file, text);
  write("class/tty/ttyS0/type", "4");
  write("class/tty/ttyS1/type", "0");
  const std::string r = root.path().string();
  EXPECT_EQ(sysfs::usbAdapter(r, "/dev/ttyUSB0"), "USB 0403:6001, Maker, Cable, serial A5");
  EXPECT_EQ(sysfs::usbAdapter(r, "/dev/ttyACM0"), "USB 1d50:6018, Board");
  EXPECT_EQ(sysfs::usbAdapter(r, "/dev/ttyUSB1"), "USB 1a86:7523");
  EXPECT_EQ(sysfs::usbAdapter(r, "/dev/ttyS0"), "");
  EXPECT_EQ(sysfs::usbAdapter(r, "/dev/ttyUSB9"), "");
  EXPECT_EQ(std::pair(sysfs::emptyUartSlot(r, "/dev/ttyS0"), sysfs::emptyUartSlot(r, "/dev/ttyS1")),
            std::pair(false, true));
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
