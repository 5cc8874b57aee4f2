// The real POSIX port on pseudo-terminals, with the stand-in on the far side.
// Wall-clock bounds here are generous on purpose; exact timing is covered
// with a fake clock elsewhere and measured by the benchmark.
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "link/identification.h"
#include "link/result_codes.h"
#include "serial/posix/port_lock.h"
#include "serial/posix/serial_posix.h"
#include "serial/posix/sysfs.h"
#include "sim/pty.h"
#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

using WallClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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

// A process id no program runs under: a child's, reaped.
pid_t deadPid() {
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  return dead;
}

// The lock file of a device node, in `dir`.
std::filesystem::path lockOf(const std::filesystem::path& dir, const std::string& node) {
  std::string name = std::filesystem::path(node).lexically_relative("/dev").string();
  std::replace(name.begin(), name.end(), '/', '_');
  return dir / ("LCK.." + name);
}

// A raw 8N1 line both ways, set up from a cooked pty; silence is waited
// out, not spun through.
TEST(SerialPty, AllByteValuesPassUnchangedAndSilenceIsWaited) {
  sim::Pty pty = cookedPty();
  termios found{};
  ASSERT_EQ(::tcgetattr(pty.slaveHold.get(), &found), 0);
  PosixSerialPlatform platform(PortMap().set(4, pty.path));
  OpenResult o = platform.open(PortTarget::com(4));
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
  EXPECT_EQ(std::tuple(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), t.c_iflag & (IXON | IXOFF | ICRNL),
                       t.c_lflag & (ICANON | ECHO | ISIG), ::cfgetospeed(&t)),
            std::tuple(tcflag_t{CS8}, 0u, 0u, speed_t{B19200}));

  // Bytes that came before are dropped, as a late reply must be; then silence.
  ASSERT_EQ(::write(pty.master.get(), all.data(), 9), 9);
  pollfd arrived{pty.slaveHold.get(), POLLIN, 0};
  ASSERT_EQ(::poll(&arrived, 1, 1000), 1);
  o.port->discardInput();
  const double cpu0 = threadCpuMs();
  const auto t0 = WallClock::now();
  EXPECT_EQ(o.port->read(in).count, 0u);
  EXPECT_GE(WallClock::now() - t0, 150ms);
  EXPECT_LT(threadCpuMs() - cpu0, 50.0) << "a silent port must not be polled in a loop";

  // The next program finds the line as it was: cooked, HUPCL and all.
  o.port.reset();
  termios left{};
  ASSERT_EQ(::tcgetattr(pty.slaveHold.get(), &left), 0);
  EXPECT_EQ(std::tuple(left.c_iflag, left.c_oflag, left.c_cflag, left.c_lflag, ::cfgetospeed(&left)),
            std::tuple(found.c_iflag, found.c_oflag, found.c_cflag, found.c_lflag, ::cfgetospeed(&found)));
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
  const fs::path dir = locks.path() / "lock", name = lockOf(dir, pty.path);
  const std::string victim = locks.write("victim", {'k', 'e', 'e', 'p'});
  const pid_t dead = deadPid();
  const std::string label = "COM1 (" + pty.path + ")";
  const std::int32_t parent = ::getppid();
  const std::string held = label + " is in use by another program (PID " + std::to_string(parent) + ")";
  const auto refused = [&](const std::string& what) {
    return label + ": " + name.string() + " is " + what + ", not a lock file; the port is left alone";
  };
  const std::string pid = std::to_string(::getpid());
  // A live holder whose PID's first byte reads as a digit ("2|" is 31794):
  // its four-byte lock is no text.
  std::vector<pid_t> children;
  while (children.empty() || (children.back() & 0xff) < '0' || (children.back() & 0xff) > '9') {
    ASSERT_LT(children.size(), 1000u);
    children.push_back(::fork());
    if (children.back() == 0) {
      ::pause();
      ::_exit(0);
    }
  }
  const pid_t digit = children.back();
  // What is planted in the lock folder, and why the port is refused.
  const std::tuple<const char*, std::function<void()>, std::string> cases[] = {
      {"held", [&] { std::ofstream(name) << "      " << parent << "\n"; }, held},
      {"held, in the older binary form",
       [&] { std::ofstream(name) << std::string(reinterpret_cast<const char*>(&parent), 4); }, held},
      {"held, binary, a digit first",
       [&] { std::ofstream(name) << std::string(reinterpret_cast<const char*>(&digit), 4); },
       label + " is in use by another program (PID " + std::to_string(digit) + ")"},
      {"stale", [&] { std::ofstream(name) << dead << "\n"; }, ""},
      {"garbage", [&] { std::ofstream(name) << "uucp\n"; }, ""},
      {"no lock folder", [&] { fs::remove(dir); }, ""},
      // Where the draft of the lock used to be written, by a name anybody could guess.
      {"a link at the draft's name", [&] { fs::create_symlink(victim, dir / ("LCK." + pid + ".tmp")); }, ""},
      {"a link at the lock", [&] { fs::create_symlink(victim, name); }, refused("a symbolic link")},
      {"a FIFO at the lock", [&] { ::mkfifo(name.c_str(), 0644); }, refused("a FIFO")},
      {"a folder at the lock", [&] { fs::create_directory(name); }, refused("a folder")},
  };
  for (const auto& [what, plant, why] : cases) {
    SCOPED_TRACE(what);
    fs::remove_all(dir);
    fs::create_directory(dir);
    plant();
    PosixSerialPlatform platform(PortMap().set(1, pty.path), "/sys", dir);
    const PortTarget com1 = PortTarget::com(1);
    // check, then open: a braced list is evaluated in order.
    auto asking = std::async(std::launch::async, [&] {
      return std::pair{platform.check(com1).why, platform.open(com1)};
    });
    bool waited = false;
    // Refused at once; a few seconds only so that a loaded machine never reads as waiting.
    for (; asking.wait_for(3s) != std::future_status::ready; waited = true)
      UniqueFd(::open(name.c_str(), O_WRONLY | O_NONBLOCK));  // lets a reader of the FIFO go
    EXPECT_FALSE(waited) << "waits on what is at the lock path";
    auto [checked, o] = asking.get();
    EXPECT_EQ(std::pair(checked, o.status.why), std::pair(why, why));
    EXPECT_EQ(contents(victim), "keep");
    if (!o.port || !fs::exists(dir)) continue;
    EXPECT_EQ(contents(name), std::string(10 - pid.size(), ' ') + pid + "\n");
    EXPECT_EQ(fs::status(name).permissions() & fs::perms::others_read, fs::perms::others_read)
        << "others see who holds it";
    o.port.reset();
    EXPECT_FALSE(fs::exists(name)) << "released on close";
  }
  // A full lock folder is said as such, not as the port's own fault.
  fs::remove_all(dir);
  fs::create_directory(dir);
  if (::geteuid() == 0 && ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=4k,nr_inodes=1") == 0) {
    const OpenResult o = PosixSerialPlatform(PortMap().set(1, pty.path), "/sys", dir).open(PortTarget::com(1));
    ::umount2(dir.c_str(), MNT_DETACH);
    EXPECT_EQ(std::pair(o.status.why, o.status.code),
              std::pair(label + ": the lock folder " + dir.string() + ": No space left on device", ENOSPC));
  }
  for (pid_t child : children) ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
}

// A dead program's lock that this user may not remove (another user's, in
// a sticky folder) is said as such: its path, the PID it names and why,
// not "in use". Taken by a second user, which needs root to become.
TEST(SerialPty, StaleLockThatCannotBeRemoved) {
  if (::geteuid() != 0) GTEST_SKIP() << "a second user (uid 65534) is needed: run as root";
  namespace fs = std::filesystem;
  TempDir locks;
  sim::Pty pty = cookedPty();
  const fs::path dir = locks.path() / "lock";
  fs::create_directory(dir);
  fs::permissions(locks.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(dir, fs::perms::all | fs::perms::sticky_bit);
  const pid_t dead = deadPid();
  const fs::path name = lockOf(dir, pty.path);
  std::ofstream(name) << dead << "\n";
  EXPECT_EQ(asAnotherUser([&] {
              return PosixSerialPlatform(PortMap().set(1, pty.path), "/sys", dir).open(PortTarget::com(1)).status.why;
            }),
            "COM1 (" + pty.path + "): " + name.string() + " was left by PID " + std::to_string(dead) +
                ", which is not running, and cannot be removed: " + std::strerror(EPERM) + "; the port is left alone");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "its draft removed";
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
  EXPECT_EQ(asAnotherUser([&] {
              PosixSerialPlatform platform(PortMap().set(1, pty.path), "/sys", "/nonexistent");
              for (int run = 1; run <= 2; ++run)
                if (!platform.open(PortTarget::com(1)).port) return "run " + std::to_string(run) + ": not opened";
              return std::string();
            }),
            "");
}

// A hang-up ends the exchange at once and closes the port; the device, back
// on a new line behind the same name, is found by the next exchange.
TEST(SerialPty, HangUpMidReadAndBack) {
  TempDir dir;
  const std::string node = (dir.path() / "ttyDEV").string();
  auto dev = startSimulator({.device = {.hangupAt = 0}, .linkPath = node, .reopenAfterMs = 300});
  PosixSerialPlatform platform(PortMap().set(6, node));
  Link link(platform);
  ASSERT_EQ(identify(link, PortTarget::com(6), 0).code, rc::kOk);
  const double cpu0 = threadCpuMs();
  const auto t0 = WallClock::now();
  EXPECT_EQ(
      link.exchange(PortTarget::com(6), 0, wire::Request::record(0), std::vector<std::uint8_t>(wire::kRecordSize)).code,
      rc::kNoReply);
  EXPECT_LT(WallClock::now() - t0, 1s);
  EXPECT_LT(threadCpuMs() - cpu0, 100.0) << "a dead port must not be polled in a loop";
  // The far end closed: the pty's node is gone, as an adapter's is when pulled out.
  EXPECT_EQ(link.portStatus().error, SerialError::Unplugged) << link.portStatus().why;
  ASSERT_TRUE(waitFor([&] { return dev->linesOpened() == 2; }));
  EXPECT_EQ(identify(link, PortTarget::com(6), 0).code, rc::kOk);
}

// What --list and the report know of an adapter, read from a sysfs tree of
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
  const std::pair<const char*, const char*> files[] = {
      {"1-1/idVendor", "0403"}, {"1-1/idProduct", "6001"}, {"1-1/manufacturer", "Maker"}, {"1-1/product", "Cable"},
      {"1-1/serial", "A5"},     {"1-2/idVendor", "1d50"},  {"1-2/idProduct", "6018"},     {"1-2/product", "Board"},
      {"1-3/idVendor", "1a86"}, {"1-3/idProduct", "7523"}};
  for (const auto& [file, text] : files) write(std::string("devices/usb1/") + file, text);
  write("class/tty/ttyS0/type", "4");
  write("class/tty/ttyS1/type", "0");
  const std::string r = root.path().string();
  // Each fact a field of its own (vendor, product id, maker, product, serial, where), and the words people read.
  const auto facts = [&](const char* node) {
    const Adapter a = sysfs::usbAdapter(r, node);
    return a.vendorId + "|" + a.productId + "|" + a.maker + "|" + a.product + "|" + a.serial + "|" + a.usbPath + " = " +
           adapterWords(a);
  };
  EXPECT_EQ(facts("/dev/ttyUSB0"), "0403|6001|Maker|Cable|A5|1-1 = USB 0403:6001, Maker, Cable, serial A5");
  EXPECT_EQ(facts("/dev/ttyACM0"), "1d50|6018||Board||1-2 = USB 1d50:6018, Board");
  EXPECT_EQ(facts("/dev/ttyUSB1"), "1a86|7523||||1-3 = USB 1a86:7523");
  EXPECT_EQ(facts("/dev/ttyS0"), "||||| = ");
  EXPECT_EQ(facts("/dev/ttyUSB9"), "||||| = ");
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
