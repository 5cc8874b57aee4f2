// isp-flash end to end: the program itself, against the stand-in on a
// pseudo-terminal, with --interval 0 unless the normal pace is the point.
// Each kind of failed transfer, with its exit status and explanation, is
// run by the soak (bench/soak.cpp), which the test command runs too.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "programming/sha256.h"
#include "resources/isp_version.h"
#include "serial/posix/serial_posix.h"
#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

using namespace std::chrono_literals;

class FlashCli : public ::testing::Test {
 protected:
  int flash(std::vector<std::string> args, const std::function<void(pid_t)>& during = {}) {
    args.insert(args.begin(), ISP_FLASH_PATH);
    const Finished f = runProgram(args, during);
    std::tie(out_, err_) = std::tie(f.out, f.err);
    return f.status;
  }
  std::vector<std::string> flashArgs(const std::string& file) {
    return {"--port", sim_->path(), "--file", file, "--interval", "0"};
  }
  // The firmware to the stand-in, with `more`.
  int flashWith(std::vector<std::string> more) {
    const std::vector<std::string> args = flashArgs(firmware_);
    more.insert(more.begin(), args.begin(), args.end());
    return flash(more);
  }
  // isp-flash in a mount namespace of its own, which ends with it: /dev
  // holds the pseudo-terminals and links under the names given (ttyUSB0 is
  // COM5) to the paths given, the lock folder is empty, and "all" never
  // reaches a port of the machine's.
  int flashOnNodes(const std::vector<std::pair<std::string, std::string>>& nodes, std::vector<std::string> args,
                   const std::function<void(pid_t)>& during = {}) {
    const std::string pts = (dir_.path() / "pts").string();
    std::filesystem::create_directory(pts);
    std::string script = "mount --bind /dev/pts " + pts + " && mount -t tmpfs -o mode=755 tmpfs /dev && mkdir " +
                         "/dev/pts && mount --move " + pts + " /dev/pts && mount -t tmpfs tmpfs /run/lock";
    for (const auto& [name, path] : nodes) script += " && ln -s " + path + " /dev/" + name;
    args.insert(args.begin(), {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                               script + " && exec \"$0\" \"$@\"", ISP_FLASH_PATH});
    const Finished f = runProgram(args, during);
    std::tie(out_, err_) = std::tie(f.out, f.err);
    return f.status;
  }

  TempDir dir_;
  std::vector<std::uint8_t> image_ = sampleImage();
  std::string firmware_ = dir_.write("fw.isp", image_);
  std::unique_ptr<sim::Simulator> sim_ = startSimulator();
  std::string out_, err_;
};

// Operator mode: the line file's set-up or nothing. A firmware whose sum is
// not the line's is refused before any frame, naming both sums; options
// the line sets are refused beside it; each line of the record names the
// line and the file's sum.
TEST_F(FlashCli, ALineFileOrNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "a line file of root's needs root";
  const auto line = [&](const std::string& sum) {
    const std::string text = R"({"name": "Линия 3", "firmware": "fw.isp", "sha256": ")" + sum + R"(", "ports": [")" +
                             sim_->path() + R"("], "interval_ms": 0, "report": "line.jsonl"})";
    return dir_.write("line.json", std::vector<std::uint8_t>(text.begin(), text.end()));
  };
  const std::string other(64, '0');
  EXPECT_EQ(flash({"--line", line(other)}), 2);
  EXPECT_TRUE(holds(err_, "has SHA-256 " + sha256Hex(image_) + ", but the line file " + line(other) +
                              " was set up with SHA-256 " + other));
  EXPECT_EQ(flash({"--line", line(sha256Hex(image_)), "--port", sim_->path()}), 2);
  EXPECT_TRUE(holds(err_, "--port excludes --line"));
  EXPECT_EQ(sim_->framesHandled(), 0);
  const std::string path = line(sha256Hex(image_));
  EXPECT_EQ(flash({"--line", path}), 0) << err_;
  EXPECT_EQ(sim_->image(), image_);
  const std::string bytes = contents(path);
  EXPECT_TRUE(holds(contents(dir_.path() / "line.jsonl"),
                    "\"line\":\"Линия 3\",\"line_sha256\":\"" +
                        sha256Hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}) + "\""));
}

TEST_F(FlashCli, ProgramsTheImageByteForByte) {
  EXPECT_EQ(flash({"--port=" + sim_->path(), "--file=" + firmware_, "--interval=0"}), 0) << err_;
  EXPECT_EQ(out_, "Выбран файл fw.isp\nФайл открыт\nПоследовательный порт " + sim_->path() +
                      "\nУстройство SIM-1 в режиме программирования\nФайл считан\n"
                      "Программирование устройства начато\nПрограммирование завершено\n");
  // What is about to be programmed, and no progress display when standard error is not a terminal.
  EXPECT_EQ(err_, "isp-flash: " + firmware_ + ": 66690 bytes, SHA-256 " + sha256Hex(image_) + "\n");
  EXPECT_EQ(sim_->image(), image_);
}

// A reader of standard output that goes away does not cut the transfer
// short, nor the log file, each line of it stamped; on a terminal the
// progress display is left at its end.
TEST_F(FlashCli, OutputReaderGoingAwayAndProgressOnATerminal) {
  const std::string log = (dir_.path() / "pipe.log").string();
  std::string command = ISP_FLASH_PATH;
  for (const std::string& a : flashArgs(firmware_)) command += " '" + a + "'";
  command += " --log '" + log + "' | head -3 >/dev/null; exit \\${PIPESTATUS[0]}";
  const Finished terminal = runProgram({"/usr/bin/script", "-qec", "/bin/bash -c \"" + command + "\"", "/dev/null"});
  EXPECT_EQ(terminal.status, 0) << terminal.err;
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
  EXPECT_TRUE(
      std::regex_match(contents(log), std::regex("(" + stamp + ".*\n){6}" + stamp + "Программирование завершено\n")))
      << contents(log);
  EXPECT_TRUE(std::regex_search(terminal.out, std::regex("records 513/513  100%[^\r]*\r\n$"))) << terminal.out;
}

TEST_F(FlashCli, FileProblems) {
  EXPECT_EQ(flash(flashArgs((dir_.path() / "none.isp").string())), 4);
  EXPECT_EQ(out_, "Выбран файл none.isp\nФайл не открыт\n");
  EXPECT_TRUE(holds(err_, "none.isp: No such file or directory"));

  // A folder: refused before the device is touched (a file too short is
  // the image's own test).
  EXPECT_EQ(flash(flashArgs(dir_.path().string())), 4);
  EXPECT_TRUE(out_.ends_with("Ошибка чтения файла\n")) << out_;
  // A device is not opened at all: an open alone moves a serial port's lines.
  EXPECT_EQ(flash(flashArgs("/dev/null")), 4);
  EXPECT_EQ(err_, "isp-flash: cannot open /dev/null: a device, not a file\n");
  EXPECT_EQ(flash({"--port", sim_->path(), "--file", firmware_, "--log", "/dev/null"}), 2);
  EXPECT_EQ(err_, "isp-flash: cannot open the log file /dev/null: a device, not a file\n");
  EXPECT_EQ(sim_->framesHandled(), 0) << "the device is not touched";
  // Longer than an image: said before any port is tried, though only the start is sent.
  const std::string longer = dir_.write("long.isp", sampleImage(66700));
  EXPECT_EQ(flash({"--port", (dir_.path() / "ttyNone").string(), "--file", longer}), 3);
  EXPECT_TRUE(holds(err_, "isp-flash: " + longer + ": the file holds 66700 bytes; only the first 66690 are sent\n"));
  // A FIFO with nobody writing: read as empty, not waited on.
  const std::string fifo = (dir_.path() / "fifo.isp").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(flash(flashArgs(fifo)), 4);
}

// Three devices at once, one refusing record 100: the others are programmed
// byte for byte, the failure is its port's alone, every line is whole and
// names its port, and each device leaves a line in the report.
TEST_F(FlashCli, SeveralPortsAndTheirReport) {
  const std::unique_ptr<sim::Simulator> sims[] = {std::move(sim_), startSimulator({.device = {.errorAt = 100}}),
                                                  startSimulator()};
  const std::string report = (dir_.path() / "made.jsonl").string();
  const std::string ports = sims[0]->path() + "," + sims[1]->path() + "," + sims[2]->path();
  EXPECT_EQ(flash({"--port", ports, "--file", firmware_, "--interval", "0", "--report", report}), 1) << err_;
  EXPECT_TRUE(sims[0]->image() == image_ && sims[2]->image() == image_);
  EXPECT_TRUE(std::regex_match(out_, std::regex("((/dev/pts/|Выбран|Файл).*\n)*"))) << out_;
  EXPECT_TRUE(holds(out_, sims[1]->path() + ": Ошибка 4, блок 100\n"));
  // The reason beyond the log line names its port too.
  EXPECT_TRUE(holds(err_, "isp-flash: " + sims[1]->path() + ": record 100 was not taken: "));

  // Each field's value is the report line's own test; here, one line each.
  std::ifstream in(report);
  std::map<std::string, std::string> results;
  for (std::string line; std::getline(in, line);) {
    const auto j = nlohmann::json::parse(line);
    results[j["node"]] = j["result"];
    EXPECT_EQ(j["image"]["sha256"], sha256Hex(image_));
  }
  EXPECT_EQ(results,
            (std::map<std::string, std::string>{
                {sims[0]->path(), "completed"}, {sims[1]->path(), "not completed"}, {sims[2]->path(), "completed"}}));
}

// What a careless user can give for the report: each is refused before any
// device is touched, at once, with the file named (what a hostile one can
// plant is the hostile paths' test).
TEST_F(FlashCli, ReportThatCannotBeKept) {
  const std::string fifo = (dir_.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& report :
       {(dir_.path() / "none" / "r.jsonl").string(), dir_.path().string(), fifo, std::string("/dev/null")}) {
    EXPECT_EQ(flash({"--port", sim_->path(), "--file", firmware_, "--report", report}), 5) << report;
    EXPECT_TRUE(err_.starts_with("isp-flash: cannot keep the report " + report + ": ")) << err_;
    EXPECT_TRUE(err_.ends_with("; no device was touched\n")) << err_;
  }
  EXPECT_EQ(sim_->framesHandled(), 0);
}

// A line that cannot be written whole (here a file size limit, as a full
// disk) is taken back: the device is programmed, the run says the record
// lacks its line, and the file still parses; the next run's line is whole,
// also after another writer left a line without its end.
TEST_F(FlashCli, ReportOnAFullDisk) {
  const std::string report = (dir_.path() / "full.jsonl").string();
  std::string before;
  while (before.size() < 2000) before += R"({"earlier":"line )" + std::to_string(before.size()) + "\"}\n";
  std::ofstream(report) << before;
  const Finished full =
      runProgram({"/usr/bin/prlimit", "--fsize=" + std::to_string(before.size() + 60), ISP_FLASH_PATH, "--port",
                  sim_->path(), "--file", firmware_, "--interval", "0", "--report", report});
  EXPECT_EQ(full.status, 5) << full.err;
  EXPECT_TRUE(holds(full.err, "the report: " + report + ": File too large"));
  EXPECT_EQ(contents(report), before) << "nothing torn left behind";

  std::ofstream(report, std::ios::app) << R"({"torn":)";
  EXPECT_EQ(flashWith({"--report", report}), 0) << err_;
  const std::string torn = before + R"({"torn":)" + "\n", after = contents(report);
  ASSERT_TRUE(after.starts_with(torn)) << after;
  EXPECT_EQ(nlohmann::json::parse(after.substr(torn.size()))["result"], "completed");
}

// A device's name holding terminal commands, a forged line and more than a
// line's worth of text: shown escaped and whole, on standard output, in the
// table and in the log file; the report keeps it as it came.
TEST_F(FlashCli, DeviceTextCannotSpeakForTheProgram) {
  const std::string name = "\x1b]0;owned\x07\x1b[2J\r\nCOM7: done " + std::string(200, 'N');
  const std::unique_ptr<sim::Simulator> sims[] = {
      startSimulator({.device = {.identText = "ISP " + name}}),
      startSimulator({.device = {.identText = "ISP " + name, .errorAt = 10}})};
  const std::string log = (dir_.path() / "names.log").string(), report = (dir_.path() / "names.jsonl").string();
  // A port's name is the user's text, but shown as carefully.
  const std::string port = (dir_.path() / "tty\r\nCOM7: done").string();
  std::filesystem::create_symlink(sims[0]->path(), port);
  EXPECT_EQ(flash({"--port", port + "," + sims[1]->path(), "--file", firmware_, "--interval", "0", "--log", log,
                   "--report", report}),
            1);
  const std::string shown = "\\x1b]0;owned\\x07\\x1b[2J\\x0d\\x0aCOM7: done " + std::string(200, 'N');
  for (const std::string& text : {out_, err_, contents(log)}) {
    EXPECT_FALSE(std::regex_search(text, std::regex("[\\x00-\\x09\\x0b-\\x1f\\x7f]"))) << text;
    EXPECT_EQ(text.find("\nCOM7"), std::string::npos) << text;
  }
  EXPECT_TRUE(holds(out_, sims[1]->path() + ": Устройство " + shown + " в режиме программирования\n"));
  EXPECT_TRUE(holds(err_, shown + " not completed at record 10")) << "the table's line, whole";
  EXPECT_TRUE(holds(contents(log), shown));
  std::ifstream in(report);
  for (std::string line; std::getline(in, line);) EXPECT_EQ(nlohmann::json::parse(line)["device"], name);
}

// What another user of the machine may plant where a root run's files go:
// each refused before the device is touched, with the path and why, and
// nothing written through it. isp-sim's image is put in place the same way.
TEST_F(FlashCli, HostilePaths) {
  if (::geteuid() != 0) GTEST_SKIP() << "planting another user's (uid 65534) links and files needs root";
  namespace fs = std::filesystem;
  // Another user's (uid 54321, no account needed) folder, readable by all;
  // a folder of root's a group or an ACL entry lets others write; their
  // folder mounted over one of root's.
  const fs::path sticky = dir_.path() / "sticky", open = dir_.path() / "open", victim = dir_.path() / "victim",
                 their = dir_.path() / "their", group = dir_.path() / "group", acl = dir_.path() / "acl",
                 bound = dir_.path() / "bound";
  for (const fs::path& d : {sticky, open, victim, their, group, acl, bound}) fs::create_directory(d);
  fs::permissions(sticky, fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(open, fs::perms::all);
  const auto theirs = [](const fs::path& p) {
    EXPECT_EQ(::lchown(p.c_str(), 65534, 65534), 0) << p;
    return p.string();
  };
  const auto link = [&](const fs::path& at, const fs::path& to) {
    fs::create_symlink(to, at);
    return theirs(at);
  };
  std::ofstream(sticky / "line.jsonl").close();
  ::chmod((sticky / "line.jsonl").c_str(), 0666);
  const std::string planted = " is a link that another user put in a folder others may write; it is not followed";
  ::chmod(their.c_str(), 0755);
  EXPECT_EQ(::chown(their.c_str(), 54321, 54321), 0);
  EXPECT_EQ(::chown(group.c_str(), 0, 54321), 0);
  fs::permissions(group, fs::perms::group_write, fs::perm_options::add);
  std::ofstream(dir_.path() / "their.log").close();
  std::ofstream(their / "r.jsonl").close();
  EXPECT_EQ(::chown((their / "r.jsonl").c_str(), 54321, 54321), 0);
  EXPECT_EQ(::chown((dir_.path() / "their.log").c_str(), 54321, 54321), 0);
  // user::rwx user:54321:rwx group::r-x mask::rwx other::r-x, as the system keeps it.
  // Its version, then each entry: tag, permissions, id.
  const std::uint8_t xattr[] = {2, 0,    0,    0,    1,    0,    7,    0, 0xff, 0xff, 0xff, 0xff, 2,    0,    7,
                                0, 0x31, 0xd4, 0,    0,    4,    0,    5, 0,    0xff, 0xff, 0xff, 0xff, 0x10, 0,
                                7, 0,    0xff, 0xff, 0xff, 0xff, 0x20, 0, 5,    0,    0xff, 0xff, 0xff, 0xff};
  const bool aclKept = ::setxattr(acl.c_str(), "system.posix_acl_access", xattr, sizeof xattr, 0) == 0;
  // Unmounted pass or fail.
  const bool mounted = ::mount(their.c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) == 0;
  const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
      mounted ? &bound : nullptr, [](const fs::path* at) { ::umount2(at->c_str(), MNT_DETACH); });
  fs::create_directory_symlink(their, dir_.path() / "mine");
  const std::string owned = " is owned by user 54321, not by root or the user running the program";
  // The option, its value, the exit status and what standard error says.
  const std::tuple<std::string, std::string, int, std::string> cases[] = {
      {"--report", link(sticky / "line", victim) + "/r.jsonl", 5, (sticky / "line").string() + planted},
      {"--report", link(sticky / "r.jsonl", victim / "r.jsonl"), 5, (sticky / "r.jsonl").string() + planted},
      {"--report", theirs(sticky / "line.jsonl"), 5,
       (sticky / "line.jsonl").string() + " belongs to another user, in a folder everybody may write"},
      {"--log", (open / "flash.log").string(), 2,
       open.string() + " is a folder everybody may write without the sticky bit"},
      {"--file", link(open / "fw", dir_.path()) + "/fw.isp", 4, (open / "fw").string() + planted},
      {"--port", link(sticky / "ttyISP", sim_->path()), 3, (sticky / "ttyISP").string() + planted},
      // Whoever owns a folder may swap what is in it, whatever its mode.
      {"--report", link(their / "line", victim) + "/r.jsonl", 5, their.string() + owned},
      {"--report", (their / "r.jsonl").string(), 5, their.string() + owned},
      {"--log", (dir_.path() / "mine" / "flash.log").string(), 2, their.string() + owned},
      {"--log", (dir_.path() / "their.log").string(), 2, (dir_.path() / "their.log").string() + owned},
      {"--report", (bound / "r.jsonl").string(), 5, mounted ? bound.string() + owned : "skipped: no bind mount"},
      {"--report", (group / "r.jsonl").string(), 5, group.string() + ": another user or group may write it (group"},
      {"--report", (acl / "r.jsonl").string(), 5,
       aclKept ? acl.string() + ": another user or group may write it (ACL)" : "skipped: no ACL here"},
      {"--file", link(group / "fw", firmware_), 4, (group / "fw").string() + planted},
      // A file of the kernel's: 514 frames would go before the first write failed.
      {"--report", "/proc/self/mem", 5, " is on proc, a file system of the kernel's, not on a disk"},
  };
  for (const auto& [option, path, status, says] : cases) {
    if (says.starts_with("skipped")) continue;
    EXPECT_EQ(flashWith({option, path}), status) << path;
    EXPECT_TRUE(holds(err_, says));
  }
  // A walk starts in the working folder: one everybody may write is no
  // place for a relative report either.
  const Finished relative = runProgram({"/usr/bin/env", "-C", open.string(), ISP_FLASH_PATH, "--port", sim_->path(),
                                        "--file", firmware_, "--report", "r.jsonl"});
  EXPECT_EQ(relative.status, 5);
  EXPECT_TRUE(holds(relative.err, ". is a folder everybody may write without the sticky bit"));
  EXPECT_EQ(sim_->framesHandled(), 0);
  EXPECT_TRUE(fs::is_empty(victim));
  EXPECT_EQ(contents(sticky / "line.jsonl"), "");
  EXPECT_EQ(contents(dir_.path() / "their.log"), "");
  const auto names = [](const fs::path& d) {
    std::set<std::string> in;
    for (const auto& e : fs::directory_iterator(d)) in.insert(e.path().filename().string());
    return in;
  };
  EXPECT_EQ(names(their), (std::set<std::string>{"line", "r.jsonl"})) << "nothing made there";
  EXPECT_EQ(names(group), std::set<std::string>{"fw"});
  EXPECT_TRUE(names(acl).empty());
  // A link of the user's own there is followed.
  fs::create_symlink(victim, sticky / "ours");
  EXPECT_EQ(flashWith({"--report", (sticky / "ours" / "r.jsonl").string()}), 0) << err_;
  EXPECT_TRUE(fs::exists(victim / "r.jsonl"));

  // The stand-in's image: another user's file at its path in a folder
  // everybody may write is theirs, never renamed over (its draft's name is
  // nobody's guess: the stand-in's own test).
  const fs::path others = sticky / "others.isp";
  std::ofstream(others) << "theirs";
  EXPECT_EQ(::chown(others.c_str(), 54321, 54321), 0);
  sim_ = startSimulator({.imagePath = others.string()});
  EXPECT_EQ(flash(flashArgs(firmware_)), 0) << err_;
  EXPECT_TRUE(sim_->imageLost()) << "said before the last reply";
  struct stat st {};
  EXPECT_TRUE(::lstat(others.c_str(), &st) == 0 && st.st_uid == 54321u);
  EXPECT_TRUE(contents(others) == "theirs") << "their file, unchanged";
}

// Whatever the umask, nothing the programs create is for others to change:
// folders 0700, the window's settings 0600, records, logs and images 0644.
TEST_F(FlashCli, ModesWhateverTheUmask) {
  namespace fs = std::filesystem;
  const fs::path made = dir_.path() / "made", tight = dir_.path() / "tight";
  fs::create_directory(made);
  fs::create_directory(tight);
  // The tightest umask takes nothing from a report's or a log's mode either.
  const mode_t was = ::umask(077);
  EXPECT_EQ(flashWith({"--log", (tight / "flash.log").string(), "--report", (tight / "flash.jsonl").string()}), 0)
      << err_;
  for (const char* name : {"flash.log", "flash.jsonl"})
    EXPECT_EQ(fs::status(tight / name).permissions(), static_cast<fs::perms>(0644)) << name;
  ::umask(0);
  sim_ = startSimulator({.imagePath = (made / "received.isp").string()});
  EXPECT_EQ(flashWith({"--log", (made / "flash.log").string(), "--report", (made / "flash.jsonl").string()}), 0)
      << err_;
  EXPECT_TRUE(waitFor([&] { return fs::exists(made / "received.isp"); }));
  std::map<std::string, int> modes = {{"flash.log", 0644}, {"flash.jsonl", 0644}, {"received.isp", 0644}};
#ifdef ISP_STATION_PATH
  // The window, started as at boot, until its settings are written.
  const fs::path settings = made / "config" / "isp-programmer" / "isp-station.conf";
  runProgram({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + (made / "config").string(),
              ISP_STATION_PATH, "--file", firmware_, "--port", sim_->path(), "--report",
              (made / "reports" / "day" / "r.jsonl").string(), "--start"},
             [&](pid_t pid) {
               // Written by the toolkit, then made the user's alone.
               waitFor([&] { return (fs::status(settings).permissions() & fs::perms::others_read) == fs::perms::none; },
                       std::chrono::seconds(5));
               ::kill(pid, SIGTERM);
             });
  modes.insert({{"config", 0700},
                {"config/isp-programmer", 0700},
                {"config/isp-programmer/isp-station.conf", 0600},
                {"reports", 0700},
                {"reports/day", 0700},
                {"reports/day/r.jsonl", 0644}});
#endif
  ::umask(was);
  std::map<std::string, int> found;
  for (const auto& entry : fs::recursive_directory_iterator(made))
    if (!entry.path().filename().string().ends_with(".lock"))
      found[entry.path().lexically_relative(made).string()] = static_cast<int>(entry.symlink_status().permissions());
  EXPECT_EQ(found, modes);
}

// One file in one role and one device once, by whatever names they are
// given: a usage error before anything is opened, or the log would be
// written into the record, the record into the firmware, or two transfers
// into one device at once.
TEST_F(FlashCli, OneFileOneRoleOneDeviceOnce) {
  const std::string log = dir_.write("same.jsonl", {}), hard = (dir_.path() / "hard.isp").string(),
                    soft = (dir_.path() / "soft.jsonl").string(), p = sim_->path(),
                    tty = (dir_.path() / "ttyLink").string();
  std::filesystem::create_hard_link(firmware_, hard);
  std::filesystem::create_symlink(log, soft);
  std::filesystem::create_symlink(p, tty);
  // A file not there yet, and links that would create it: one through
  // another, relative to their folder.
  const std::string newLog = (dir_.path() / "new.log").string(), dangling = (dir_.path() / "dangling.jsonl").string(),
                    twice = (dir_.path() / "twice.jsonl").string();
  std::filesystem::create_symlink("new.log", dangling);
  std::filesystem::create_symlink("dangling.jsonl", twice);
  const auto roles = [](const std::string& a, const std::string& one, const std::string& b, const std::string& other) {
    return std::pair(std::vector{a, one, b, other}, a + " and " + b + " name one file: " + one + " and " + other);
  };
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      roles("--log", log, "--report", log),
      roles("--log", soft, "--report", log),
      roles("--file", hard, "--report", firmware_),
      roles("--file", firmware_, "--log", hard),
      roles("--log", newLog, "--report", dangling),
      roles("--log", twice, "--report", newLog),
      {{"--port", p + "," + p}, "--port names one device twice: " + p + " and " + p},
      {{"--port", p + "," + tty}, "--port names one device twice: " + p + " and " + tty},
  };
  for (auto [args, says] : cases) {
    args.insert(args.begin(), {"--port", p, "--file", firmware_});
    EXPECT_EQ(flash(args), 2) << says;
    EXPECT_EQ(err_, "isp-flash: " + says + " (see isp-flash --help)\n");
  }
  EXPECT_EQ(sim_->framesHandled(), 0);
  EXPECT_EQ(contents(firmware_).size(), image_.size());
  EXPECT_EQ(contents(log), "");
  EXPECT_FALSE(std::filesystem::exists(newLog));
}

// A write that fails is said, once, and the run does not end as a success;
// the device is programmed to the end all the same.
TEST_F(FlashCli, NoWriteLostInSilence) {
  // The log already at the file size limit, which everything else the run
  // writes (its output, the report, the lock) stays far below: the log is
  // all that is lost, and all the 5 can come from.
  constexpr std::size_t kLimit = 16384;
  const std::string log = (dir_.path() / "full.log").string(), report = (dir_.path() / "r.jsonl").string();
  const std::string before(kLimit, 'x');
  std::ofstream(log) << before;
  const Finished full =
      runProgram({"/usr/bin/prlimit", "--fsize=" + std::to_string(kLimit), ISP_FLASH_PATH, "--port", sim_->path(),
                  "--file", firmware_, "--interval", "0", "--log", log, "--report", report});
  EXPECT_EQ(full.status, 5) << full.err;
  // The log's first line fails, before the image is read.
  EXPECT_EQ(full.err, "isp-flash: the log file " + log + ": File too large; it lacks this line and those after it\n" +
                          "isp-flash: " + firmware_ + ": 66690 bytes, SHA-256 " + sha256Hex(image_) + "\n");
  EXPECT_TRUE(full.out.ends_with("\nПрограммирование завершено\n")) << full.out;
  EXPECT_EQ(sim_->image(), image_);
  EXPECT_EQ(nlohmann::json::parse(contents(report))["result"], "completed");
  EXPECT_EQ(contents(log), before) << "nothing torn left behind";

  // Output on a full device: every program's help, version and listing
  // are no success; a transfer goes on, and a table that cannot be shown
  // ends it with 5.
  const auto onFull = [](const char* program, const std::string& args, const char* stream = "") {
    return runProgram(
        {"/bin/sh", "-c", "QT_QPA_PLATFORM=offscreen exec \"$0\" " + args + " " + stream + ">/dev/full", program});
  };
  const std::pair<const char*, const char*> outputs[] = {
      {ISP_FLASH_PATH, "--help"},   {ISP_FLASH_PATH, "--version"},
      {ISP_FLASH_PATH, "--list"},   {ISP_SIM_PATH, "--help"},
#ifdef ISP_STATION_PATH
      {ISP_STATION_PATH, "--help"}, {ISP_STATION_PATH, "--version"},
#endif
  };
  for (const auto& [program, args] : outputs) {
    const Finished f = onFull(program, args);
    EXPECT_EQ(f.status, 1) << program << " " << args;
    const std::string name = std::filesystem::path(program).filename().string();
    EXPECT_TRUE(holds(f.err, name + ": standard output: No space left on device\n"));
  }
  const auto second = startSimulator();
  EXPECT_EQ(onFull(ISP_FLASH_PATH, "--port " + sim_->path() + "," + second->path() + " --identify", "2").status, 5);
  const Finished shown = onFull(ISP_FLASH_PATH, "--port " + sim_->path() + " --file " + firmware_ + " --interval 0");
  EXPECT_EQ(shown.status, 0);
  EXPECT_TRUE(
      holds(shown.err, "isp-flash: standard output: No space left on device; the lines that follow are not shown\n"));
  EXPECT_EQ(sim_->image(), image_);

  // The stand-in's image that cannot be kept is no success either.
  const std::string link = (dir_.path() / "ttyLost").string();
  const Finished lost = runProgram({"/usr/bin/timeout", "30", ISP_SIM_PATH, "--link", link, "--image",
                                    (dir_.path() / "gone\x1b[2J" / "image.bin").string(), "--exit-when-complete"},
                                   [&](pid_t) {
                                     waitFor([&] { return std::filesystem::exists(link); });
                                     EXPECT_EQ(flash({"--port", link, "--file", firmware_, "--interval", "0"}), 0);
                                   });
  EXPECT_EQ(lost.status, 1) << lost.err;
  EXPECT_TRUE(
      holds(lost.err, "isp-sim: the image was not kept at " + dir_.path().string() + "/gone\\x1b[2J/image.bin\n"));
}

// Every name a program repeats, in a usage error or a refusal, has its
// control characters escaped as a device's text has: it cannot retitle or
// clear the terminal. Every program takes numbers in decimal alone: "0x10"
// is a usage error, never 16 (isp-flash's own options have their table).
TEST_F(FlashCli, RefusalsInDecimalAndEscaped) {
  const std::string title = "\x1b]0;PWNED\a", clear = "\x1b[2J";
  const std::string shownTitle = "\\x1b]0;PWNED\\x07", shownClear = "\\x1b[2J";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{ISP_FLASH_PATH, "--port", "COM5" + title, "--file", firmware_}, shownTitle},
      {{ISP_FLASH_PATH, "--port", sim_->path(), "--identify", "--interval", "1" + clear}, shownClear},
      {{ISP_FLASH_PATH, "--port", sim_->path(), "--identify", "--qu" + clear}, shownClear},
      {{ISP_SIM_PATH, "--device", "/dev/tty" + title}, shownTitle},
      {{ISP_SIM_PATH, "--link", (dir_.path() / ("no" + clear) / "ttyX").string()}, shownClear},
      {{ISP_SIM_PATH, "--baud", "9" + clear}, shownClear},
      {{ISP_SIM_PATH, "--silent" + title}, shownTitle},
      {{ISP_SIM_PATH, "--baud", "0x10"}, "decimal digits: 0x10"},
      {{ISP_SIM_PATH, "--reopen-after", "0x10"}, "decimal digits: 0x10"},
  };
  for (auto [args, shown] : cases) {
    // A program that took the name or number would run: ended, not waited for.
    args.insert(args.begin(), {"/usr/bin/timeout", "10"});
    const Finished f = runProgram(args);
    EXPECT_NE(f.status, 0) << args[3];
    EXPECT_EQ(f.err.find_first_of("\x1b\a"), std::string::npos) << f.err;
    EXPECT_TRUE(holds(f.err, shown));
  }
  EXPECT_EQ(sim_->framesHandled(), 0);
}

// "all" is every port the system lists now, by its COM name, one that
// another program holds too. A station on "all" watches the whole table: a
// port whose node never came says nothing, one that appears later is
// programmed, and a stop ends it with the status of its devices.
TEST_F(FlashCli, AllIsThePortsTheSystemLists) {
  if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace of the program's own needs root";
  auto second = startSimulator(), held = startSimulator();
  const OpenResult holder = PosixSerialPlatform(PortMap().set(1, held->path())).open(PortTarget::com(1));
  EXPECT_EQ(flashOnNodes({{"ttyUSB0", sim_->path()}, {"ttyACM0", second->path()}, {"ttyACM7", held->path()}},
                         {"--port", "all", "--file", firmware_, "--interval", "0"}),
            1)
      << "COM20, held, is no device that completed: " << err_;
  EXPECT_TRUE(sim_->image() == image_ && second->image() == image_);
  // The same ports for a script: JSON a parser takes, each port's facts as fields.
  ASSERT_EQ(flashOnNodes({{"ttyUSB0", sim_->path()}, {"ttyACM0", second->path()}}, {"--list", "--json"}), 0) << err_;
  const auto listed = nlohmann::json::parse(out_, nullptr, false);
  ASSERT_TRUE(listed.is_array()) << out_;
  std::string seen;
  for (const auto& p : listed)
    seen += p.at("name").get<std::string>() + " " + p.at("node").get<std::string>() + " " + p.at("adapter").dump() +
            " " + p.at("available").dump() + "; ";
  EXPECT_EQ(seen, "COM5 /dev/ttyUSB0 {} true; COM13 /dev/ttyACM0 {} true; ");

  // COM13's node is a link to where its adapter's will be.
  const std::string log = (dir_.path() / "station.log").string(), later = (dir_.path() / "later").string();
  const auto logged = [&](const std::string& line) {
    return waitFor([&] { return contents(log).find(line) != std::string::npos; });
  };
  bool appeared = false;
  const int status = flashOnNodes({{"ttyUSB0", sim_->path()}, {"ttyACM0", later}},
                                  {"--station", "--port", "all", "--file", firmware_, "--interval", "0", "--log", log},
                                  [&](pid_t pid) {
                                    if (logged("COM5 SIM-1 completed in "))
                                      second = startSimulator({.linkPath = later});
                                    appeared = logged("COM13 SIM-1 completed in ");
                                    ::kill(pid, SIGTERM);
                                  });
  EXPECT_EQ(status, 0) << err_;
  EXPECT_TRUE(appeared) << out_;
  EXPECT_TRUE(std::regex_match(out_, std::regex("((Выбран|Файл).*\n)*((COM5|COM13) .*\n)+"))) << out_;
  EXPECT_EQ(out_.find("no adapter"), std::string::npos) << out_;
}

// Ctrl-C, SIGTERM and SIGHUP end every mode at once, with 128 + the signal:
// a transfer as Stop does, and a device being asked who it is that has not
// answered: a stop, not a device that was not found. A station's 0 and the
// transfer's last line show each signal caught, not the program killed by it
// (a station's SIGTERM is caught in the test of "all").
// The stand-in sends the signal the moment the frame named arrives, well
// inside the reply's time-out.
TEST_F(FlashCli, SignalsStop) {
  const std::string log = (dir_.path() / "stop.log").string();
  // The mode, the signal, the exit status, and the stand-in's line for the
  // frame that brings the signal ("frame": the identification, to a silent device).
  const std::tuple<std::vector<std::string>, int, int, std::string> cases[] = {
      {{"--identify"}, SIGINT, 130, "frame"},
      {{"--file", firmware_}, SIGTERM, 143, "frame"},
      // A station ends with its devices' status: 0 here only when the signal was caught.
      {{"--station", "--file", firmware_}, SIGINT, 0, "frame"},
      // A transfer a station's stop breaks off is a stop, not a failure.
      {{"--station", "--file", firmware_, "--interval", "20"}, SIGTERM, 143, "record 20"},
      {{"--file", firmware_, "--interval", "20", "--log", log}, SIGHUP, 129, "record 20"},  // the last case
  };
  for (const auto& [mode, signal, status, frame] : cases) {
    const int sig = signal;  // copies a lambda may capture
    const std::string at = frame;
    SCOPED_TRACE(mode[0] + " " + std::to_string(sig));
    std::atomic<pid_t> asker = 0;
    std::atomic<std::chrono::steady_clock::time_point> stopped;
    sim_ = startSimulator({.device = {.silent = at == "frame"}, .verbose = true}, [&](const std::string& line) {
      if (const pid_t pid = line == at ? asker.exchange(0) : 0)
        stopped = std::chrono::steady_clock::now(), ::kill(pid, sig);
    });
    std::vector<std::string> args = {"--port", sim_->path()};
    args.insert(args.end(), mode.begin(), mode.end());
    EXPECT_EQ(flash(args, [&](pid_t pid) { asker = pid; }), status) << out_ << err_;
    EXPECT_LT(std::chrono::steady_clock::now() - stopped.load(), 1s);
    if (status == 143 && mode[0] == "--station") {
      EXPECT_TRUE(holds(out_ + err_, " stopped in "));
      EXPECT_TRUE(holds(out_ + err_, "(0 completed, 0 failed, 1 stopped)"));
    }
  }
  EXPECT_TRUE(out_.ends_with("Программирование устройства начато\nПередача остановлена\n")) << out_;
  EXPECT_TRUE(contents(log).ends_with(" Передача остановлена\n")) << contents(log);
}

// Why a port could not be had, naming the device node behind a COM name
// (each reason a port waits is the station's test, a held one the lock's).
TEST_F(FlashCli, PortProblemsExplained) {
  std::vector<std::pair<std::string, std::string>> cases = {{"/dev/null", "/dev/null is not a serial port"}};
  if (!std::filesystem::exists("/dev/ttyUSB7"))
    cases.emplace_back("COM12", "COM12 is /dev/ttyUSB7, which does not exist");
  for (const auto& [port, why] : cases) {
    EXPECT_EQ(flash({"--port", port, "--identify"}), 3) << port;
    EXPECT_EQ(out_, "Последовательный порт " + port + "\nПорт не открыт\n");
    EXPECT_EQ(err_, "isp-flash: " + why + "\n");
  }
}

// The version is the build's own.
TEST_F(FlashCli, VersionAndHelp) {
  EXPECT_EQ(flash({"--version"}), 0);
  EXPECT_EQ(out_, "isp-flash " ISP_VERSION "\n");
  EXPECT_EQ(flash({"--help"}), 0);
}

}  // namespace
}  // namespace isp::test
