// isp-flash end to end: the program itself, against the stand-in on a
// pseudo-terminal, with --interval 0 unless the normal pace is the point.
// Each kind of failed transfer, with its exit status and explanation, is
// run by the soak (bench/soak.cpp), which the test command runs too.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <thread>

#include <nlohmann/json.hpp>
#include <sstream>

#include "programming/sha256.h"
#include "resources/isp_version.h"
#include "serial/posix/serial_posix.h"
#include "sim/simulator.h"
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
    out_ = f.out;
    err_ = f.err;
    return f.status;
  }
  std::vector<std::string> flashArgs(const std::string& file) {
    return {"--port", sim_->path(), "--file", file, "--interval", "0"};
  }
  static std::string contents(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  TempDir dir_;
  std::vector<std::uint8_t> image_ = sampleImage();
  std::string firmware_ = dir_.write("fw.isp", image_);
  std::unique_ptr<sim::Simulator> sim_ = startSimulator();
  std::string out_, err_;
};

TEST_F(FlashCli, ProgramsTheImageByteForByte) {
  EXPECT_EQ(flash({"--port=" + sim_->path(), "--file=" + firmware_, "--interval=0"}), 0) << err_;
  EXPECT_EQ(out_, "Выбран файл fw.isp\nФайл открыт\nПоследовательный порт " + sim_->path() +
                      "\nУстройство SIM-1 в режиме программирования\nФайл считан\n"
                      "Программирование устройства начато\nПрограммирование завершено\n");
  // What is about to be programmed, and no progress display when standard error is not a terminal.
  EXPECT_EQ(err_, "isp-flash: " + firmware_ + ": 66690 bytes, SHA-256 " + sha256Hex(image_) + "\n");
  EXPECT_EQ(sim_->image(), image_);
  EXPECT_TRUE(sim_->faults().empty());
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
  EXPECT_EQ(sim_->image(), image_);
  EXPECT_TRUE(std::regex_match(contents(log), std::regex(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} .*\n){7})")))
      << contents(log);
  EXPECT_TRUE(contents(log).ends_with(" Программирование завершено\n")) << contents(log);
  const std::size_t last = terminal.out.rfind("records ");
  ASSERT_NE(last, std::string::npos) << terminal.out;
  EXPECT_TRUE(terminal.out.substr(last).starts_with("records 513/513  100%")) << terminal.out.substr(last);
  EXPECT_TRUE(terminal.out.ends_with("\r\n")) << "a line of its own";
}

TEST_F(FlashCli, FileProblems) {
  EXPECT_EQ(flash(flashArgs((dir_.path() / "none.isp").string())), 4);
  EXPECT_EQ(out_, "Выбран файл none.isp\nФайл не открыт\n");
  EXPECT_NE(err_.find("none.isp: No such file or directory"), std::string::npos) << err_;

  // Too short by one byte, or a folder: refused before the device is touched.
  std::vector<std::uint8_t> shortImage(image_.begin(), image_.end() - 1);
  EXPECT_EQ(flash(flashArgs(dir_.write("short.isp", shortImage))), 4);
  EXPECT_EQ(out_, "Выбран файл short.isp\nФайл открыт\nОшибка чтения файла\n");
  EXPECT_EQ(flash(flashArgs(dir_.path().string())), 4);
  EXPECT_TRUE(out_.ends_with("Ошибка чтения файла\n")) << out_;
  // A device is not opened at all: an open alone moves a serial port's lines.
  EXPECT_EQ(flash(flashArgs("/dev/null")), 4);
  EXPECT_EQ(err_, "isp-flash: cannot open /dev/null: a device, not a file\n");
  EXPECT_EQ(flash({"--port", sim_->path(), "--file", firmware_, "--log", "/dev/null"}), 2);
  EXPECT_EQ(err_, "isp-flash: cannot open the log file /dev/null: a device, not a file\n");
  EXPECT_EQ(sim_->framesHandled(), 0) << "the device is not touched";
  // A FIFO with nobody writing: read as empty, not waited on.
  const std::string fifo = (dir_.path() / "fifo.isp").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(flash(flashArgs(fifo)), 4);
}

// Three devices at once, one refusing record 100: the others are programmed
// byte for byte, the failure is its port's alone, every line is whole and
// names its port, and each device leaves a line in the report.
TEST_F(FlashCli, SeveralPortsAndTheirReport) {
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  sims.push_back(std::move(sim_));
  sims.push_back(startSimulator({.device = {.errorAt = 100}}));
  sims.push_back(startSimulator());
  const std::string report = (dir_.path() / "made.jsonl").string();
  const std::string ports = sims[0]->path() + "," + sims[1]->path() + "," + sims[2]->path();
  EXPECT_EQ(flash({"--port", ports, "--file", firmware_, "--interval", "0", "--report", report}), 1) << err_;
  EXPECT_EQ(sims[0]->image(), image_);
  EXPECT_EQ(sims[2]->image(), image_);
  std::istringstream out(out_);
  for (std::string line; std::getline(out, line);)
    EXPECT_TRUE(line.starts_with("/dev/pts/") || line.starts_with("Выбран") || line.starts_with("Файл")) << line;
  EXPECT_NE(out_.find(sims[1]->path() + ": Ошибка 4, блок 100\n"), std::string::npos) << out_;

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

// What a careless or hostile user can give for the report: each is refused
// before any device is touched, at once, with the file named.
TEST_F(FlashCli, ReportThatCannotBeKept) {
  const std::string fifo = (dir_.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // Another user's link in a folder everybody may write, as /tmp, pointing
  // at a file of ours (only root can give the link away).
  const std::filesystem::path shared = dir_.path() / "shared", planted = shared / "r.jsonl";
  const std::string ours = dir_.write("ours.txt", {'k', 'e', 'e', 'p'});
  std::filesystem::create_directory(shared);
  std::filesystem::permissions(shared, std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
  std::filesystem::create_symlink(ours, planted);
  const bool given = ::lchown(planted.c_str(), 65534, 65534) == 0;
  for (const std::string& report : {(dir_.path() / "none" / "r.jsonl").string(), dir_.path().string(), fifo,
                                    std::string("/dev/null"), given ? planted.string() : fifo}) {
    EXPECT_EQ(flash({"--port", sim_->path(), "--file", firmware_, "--report", report}), 5) << report;
    EXPECT_TRUE(err_.starts_with("isp-flash: cannot keep the report " + report + ": ")) << err_;
    EXPECT_TRUE(err_.ends_with("; no device was touched\n")) << err_;
  }
  EXPECT_EQ(sim_->framesHandled(), 0);
  EXPECT_EQ(contents(ours), "keep");
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
  EXPECT_NE(full.err.find("the report: " + report + ": File too large"), std::string::npos) << full.err;
  EXPECT_EQ(sim_->image(), image_);
  EXPECT_EQ(contents(report), before) << "nothing torn left behind";

  std::ofstream(report, std::ios::app) << R"({"torn":)";
  EXPECT_EQ(flash({"--port", sim_->path(), "--file", firmware_, "--interval", "0", "--report", report}), 0) << err_;
  const std::string torn = before + R"({"torn":)" + "\n", after = contents(report);
  ASSERT_TRUE(after.starts_with(torn)) << after;
  EXPECT_EQ(nlohmann::json::parse(after.substr(torn.size()))["result"], "completed");
}

// A device's name holding terminal commands, a forged line and more than a
// line's worth of text: shown escaped and whole, on standard output, in the
// table and in the log file; the report keeps it as it came.
TEST_F(FlashCli, DeviceTextCannotSpeakForTheProgram) {
  const std::string name = "\x1b]0;owned\x07\x1b[2J\r\nCOM7: done " + std::string(200, 'N');
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  sims.push_back(startSimulator({.device = {.identText = "ISP " + name}}));
  sims.push_back(startSimulator({.device = {.identText = "ISP " + name, .errorAt = 10}}));
  const std::string log = (dir_.path() / "names.log").string(), report = (dir_.path() / "names.jsonl").string();
  EXPECT_EQ(flash({"--port", sims[0]->path() + "," + sims[1]->path(), "--file", firmware_, "--interval", "0", "--log",
                   log, "--report", report}),
            1);
  const std::string shown = "\\x1b]0;owned\\x07\\x1b[2J\\x0d\\x0aCOM7: done " + std::string(200, 'N');
  for (const std::string* text : {&out_, &err_}) {
    EXPECT_EQ(std::count_if(text->begin(), text->end(),
                            [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7f; }),
              0)
        << *text;
    EXPECT_EQ(text->find("\nCOM7"), std::string::npos) << *text;
  }
  EXPECT_NE(out_.find(sims[1]->path() + ": Устройство " + shown + " в режиме программирования\n"), std::string::npos)
      << out_;
  EXPECT_NE(err_.find(shown + " not completed at record 10"), std::string::npos) << "the table's line, whole: " << err_;
  const std::string logged = contents(log);
  EXPECT_NE(logged.find(shown), std::string::npos);
  EXPECT_EQ(logged.find('\x1b'), std::string::npos);
  std::ifstream in(report);
  for (std::string line; std::getline(in, line);) EXPECT_EQ(nlohmann::json::parse(line)["device"], name);
}

// One device twice in one list would be two transfers into it at once;
// a list with an empty name is a slip of the keyboard. Both are usage
// errors, told before anything is opened.
TEST_F(FlashCli, OneDeviceOncePerRun) {
  const std::string link = (dir_.path() / "ttyLink").string();
  std::filesystem::create_symlink(sim_->path(), link);
  const std::string p = sim_->path();
  const struct {
    std::string ports, says;
  } cases[] = {
      {p + "," + p, "--port names one device twice: " + p + " and " + p},
      {p + "," + link, "--port names one device twice: " + p + " and " + link},
      {p + ",", "--port has an empty name in its list: " + p + ","},
      {p + ",," + link, "--port has an empty name in its list: " + p + ",," + link},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(flash({"--port", c.ports, "--file", firmware_}), 2) << c.ports;
    EXPECT_EQ(err_, "isp-flash: " + c.says + " (see isp-flash --help)\n");
  }
  EXPECT_EQ(sim_->framesHandled(), 0);
}

// Ctrl-C and SIGTERM end every mode at once, also while the device is
// being asked who it is and has not answered: a stop, not a device that
// was not found. The stand-in sends the signal the moment the question
// arrives, well inside the reply's time-out.
TEST_F(FlashCli, StopWhileTheDeviceIsAsked) {
  const struct {
    std::vector<std::string> args;
    int sig, status;
  } cases[] = {
      {{"--identify"}, SIGINT, 130},
      {{"--file", firmware_}, SIGTERM, 143},
      {{"--station", "--file", firmware_}, SIGTERM, 0},  // a station ends with its devices' status
  };
  for (const auto& c : cases) {
    std::atomic<pid_t> asker = 0;
    std::atomic<std::chrono::steady_clock::time_point> stopped;
    sim_ = startSimulator({.device = {.silent = true}, .verbose = true}, [&](const std::string&) {
      if (const pid_t pid = asker.exchange(0)) stopped = std::chrono::steady_clock::now(), ::kill(pid, c.sig);
    });
    std::vector<std::string> args = {"--port", sim_->path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(flash(args, [&](pid_t pid) { asker = pid; }), c.status) << c.args[0] << out_ << err_;
    EXPECT_LT(std::chrono::steady_clock::now() - stopped.load(), 1s) << c.args[0];
  }
}

// Ctrl-C, SIGTERM and SIGHUP stop the transfer like Stop, with 128 + the signal.
TEST_F(FlashCli, SignalsStop) {
  const std::string log = (dir_.path() / "stop.log").string();
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    sim_ = startSimulator();
    // 20 ms between records leaves the whole transfer 10 s: time enough to
    // interrupt it however slowly this test is scheduled.
    const int status =
        flash({"--port", sim_->path(), "--file", firmware_, "--interval", "20", "--log", log}, [&](pid_t pid) {
          const auto t0 = std::chrono::steady_clock::now();
          while (sim_->recordCount() < 20 && std::chrono::steady_clock::now() - t0 < 30s)
            std::this_thread::sleep_for(1ms);
          ::kill(pid, sig);
        });
    EXPECT_EQ(status, 128 + sig);
    EXPECT_TRUE(out_.ends_with("Программирование устройства начато\nПередача остановлена\n")) << out_;
    EXPECT_LT(sim_->recordCount(), 513u);
  }
  EXPECT_TRUE(contents(log).ends_with(" Передача остановлена\n")) << contents(log);
}

// Why a port could not be had, naming the device node behind a COM name.
TEST_F(FlashCli, PortProblemsExplained) {
  const std::string missing = (dir_.path() / "ttyNone").string();
  std::vector<std::pair<std::string, std::string>> cases = {
      {"/dev/null", "/dev/null is not a serial port"},
      {missing, missing + " does not exist"},
      {sim_->path(), sim_->path() + " is in use by another program (PID " + std::to_string(::getpid()) + ")"}};
  if (!std::filesystem::exists("/dev/ttyUSB7"))
    cases.emplace_back("COM12", "COM12 is /dev/ttyUSB7, which does not exist");
  PosixSerialPlatform other(PortMap().set(1, sim_->path()));
  OpenResult held = other.open(1);
  ASSERT_TRUE(held.port);
  for (const auto& [port, why] : cases) {
    EXPECT_EQ(flash({"--port", port, "--identify"}), 3) << port;
    EXPECT_EQ(out_, "Последовательный порт " + port + "\nПорт не открыт\n");
    EXPECT_EQ(err_, "isp-flash: " + why + "\n");
  }
}

// A refusal is one line that says where to read more; the version is the
// build's own.
TEST_F(FlashCli, UsageAndVersion) {
  EXPECT_EQ(flash({"--port", "COM21", "--file", "x"}), 2);
  EXPECT_EQ(err_,
            "isp-flash: --port takes COM1 to COM20, 1 to 20, a device path, a comma-separated list of these or "
            "all: COM21 (see isp-flash --help)\n");
  EXPECT_EQ(flash({"--version"}), 0);
  EXPECT_EQ(out_, "isp-flash " ISP_VERSION "\n");
  EXPECT_EQ(flash({"--help"}), 0);
}

// The one whole transfer at the normal 250 ms pace: about 128 s, so it runs
// only under the label "slow". It checks the result; the benchmark measures
// the time.
TEST_F(FlashCli, NormalPace) {
  EXPECT_EQ(flash({"--port", sim_->path(), "--file", firmware_}), 0) << out_ << err_;
  EXPECT_EQ(sim_->image(), image_);
}

}  // namespace
}  // namespace isp::test
