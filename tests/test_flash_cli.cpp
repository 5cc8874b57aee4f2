// isp-flash end to end: the program itself, against the stand-in on a
// pseudo-terminal, with --interval 0 unless the normal pace is the point.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "serial_posix.h"
#include "simulator.h"
#include "tick_schedule.h"
#include "support/child_process.h"
#include "support/fixtures.h"

namespace isp::test {
namespace {

using namespace std::chrono_literals;

class FlashCli : public ::testing::Test {
 protected:
  void startSim(sim::DeviceOptions d = {}) { sim_ = startSimulator(std::move(d)); }

  int flash(std::vector<std::string> args, std::function<void(ChildProcess&)> during = {}) {
    args.insert(args.begin(), ISP_FLASH_PATH);
    ChildProcess child(args);
    if (during) during(child);
    const int status = child.finish();
    out_ = child.out;
    err_ = child.err;
    return status;
  }

  std::vector<std::string> flashArgs(const std::string& file) {
    return {"--port", sim_->path(), "--file", file, "--interval", "0"};
  }
  // isp-flash with flashArgs as a shell command, for pipes and terminals.
  std::string flashCommand() {
    std::string command = ISP_FLASH_PATH;
    for (const std::string& a : flashArgs(firmware_)) command += " '" + a + "'";
    return command;
  }
  static std::string lastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last;
  }

  TempDir dir_;
  std::vector<std::uint8_t> image_ = sampleImage();
  std::string firmware_ = dir_.write("fw.isp", image_);
  std::unique_ptr<sim::Simulator> sim_;
  std::string out_, err_;
};

TEST_F(FlashCli, ProgramsTheImageByteForByte) {
  startSim();
  const std::string log = (dir_.path() / "run.log").string();
  EXPECT_EQ(flash({"--port=" + sim_->path(), "--file=" + firmware_, "--interval=0", "--log", log}), 0) << err_;
  EXPECT_EQ(out_,
            "Выбран файл fw.isp\nФайл открыт\nПоследовательный порт " + sim_->path() +
                "\nУстройство SIM-1 в режиме программирования\nФайл считан\n"
                "Программирование устройства начато\nПрограммирование завершено\n");
  EXPECT_EQ(err_, "") << "no progress display when standard error is not a terminal";
  EXPECT_EQ(sim_->image(), image_);
  EXPECT_TRUE(sim_->faults().empty());

  std::ifstream in(log);
  std::string first;
  std::getline(in, first);
  EXPECT_TRUE(std::regex_match(first, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} Выбран файл fw\.isp)"))) << first;
}

struct FaultCase {
  const char* name;
  std::function<void(sim::DeviceOptions&)> set;
  std::string lastLines;
  int status;
  std::string why;  // on standard error
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FlashFaults : public FlashCli, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FlashFaults, LogAndExitStatus) {
  sim::DeviceOptions d;
  GetParam().set(d);
  startSim(d);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(flash(flashArgs(firmware_)), GetParam().status) << out_ << err_;
  EXPECT_TRUE(out_.ends_with(GetParam().lastLines)) << out_;
  EXPECT_NE(err_.find(GetParam().why), std::string::npos) << err_;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 60s);
}

// One case for each way the command line words a failure; the link's
// handling of each kind of bad reply is tested where it is made.
const FaultCase kFaults[] = {
    {"silent", [](auto& d) { d.silent = true; }, "Устройство не обнаружено\n", 3, ""},
    {"error_at_7", [](auto& d) { d.errorAt = 7; d.errorCode = 5; }, "Ошибка 5, блок 7\nПрограммирование не завершено\n", 1,
     "record 7 was not taken: the device refused it with its own error code 5"},
    {"bad_checksum_at_300", [](auto& d) { d.badChecksumAt = 300; }, "Ошибка 257, блок 300\nПрограммирование не завершено\n", 1,
     "record 300 was not taken: the reply was damaged"},
    {"late_at_12", [](auto& d) { d.delayAt = 12; }, "Ошибка 256, блок 12\nПрограммирование не завершено\n", 1,
     "record 12 was not taken: no reply"},
    {"hang_up_at_50", [](auto& d) { d.hangupAt = 50; }, "Ошибка 256, блок 50\nПрограммирование не завершено\n", 1, "no reply"},
};

INSTANTIATE_TEST_SUITE_P(Injected, FlashFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCli, FileProblems) {
  startSim();
  EXPECT_EQ(flash(flashArgs((dir_.path() / "none.isp").string())), 4);
  EXPECT_EQ(out_, "Выбран файл none.isp\nФайл не открыт\n");
  EXPECT_NE(err_.find("none.isp: No such file or directory"), std::string::npos) << err_;
  EXPECT_EQ(sim_->framesHandled(), 0) << "the device is not touched";

  // Too short by one byte, or a folder: refused before the device is touched.
  std::vector<std::uint8_t> shortImage(image_.begin(), image_.end() - 1);
  EXPECT_EQ(flash(flashArgs(dir_.write("short.isp", shortImage))), 4);
  EXPECT_EQ(out_, "Выбран файл short.isp\nФайл открыт\nОшибка чтения файла\n");
  EXPECT_EQ(flash(flashArgs(dir_.path().string())), 4);
  EXPECT_TRUE(out_.ends_with("Ошибка чтения файла\n")) << out_;
  EXPECT_EQ(sim_->framesHandled(), 0);
}

// Ctrl-C, SIGTERM and SIGHUP stop the transfer like Stop, with 128 + the signal.
TEST_F(FlashCli, SignalsStop) {
  const std::string log = (dir_.path() / "stop.log").string();
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    startSim();
    // 20 ms between records leaves the whole transfer 10 s: time enough to
    // interrupt it however slowly this test is scheduled.
    const int status = flash({"--port", sim_->path(), "--file", firmware_, "--interval", "20", "--log", log},
                             [&](ChildProcess& child) {
                               const auto t0 = std::chrono::steady_clock::now();
                               while (sim_->recordCount() < 20 && std::chrono::steady_clock::now() - t0 < 30s)
                                 std::this_thread::sleep_for(1ms);
                               child.signal(sig);
                             });
    EXPECT_EQ(status, 128 + sig);
    EXPECT_TRUE(out_.ends_with("Программирование устройства начато\nПередача остановлена\n")) << out_;
    EXPECT_LT(sim_->recordCount(), 513u);
  }
  EXPECT_TRUE(lastLine(log).ends_with("Передача остановлена")) << lastLine(log);
}

// A reader of standard output that goes away does not cut the transfer short.
TEST_F(FlashCli, OutputReaderGoingAway) {
  startSim();
  const std::string log = (dir_.path() / "pipe.log").string();
  ChildProcess shell({"/bin/bash", "-c", flashCommand() + " --log '" + log + "' | head -3 >/dev/null; exit ${PIPESTATUS[0]}"});
  EXPECT_EQ(shell.finish(), 0) << shell.err;
  EXPECT_EQ(sim_->image(), image_);
  EXPECT_TRUE(lastLine(log).ends_with("Программирование завершено")) << lastLine(log);
}

// On a terminal the progress display is left at its end.
TEST_F(FlashCli, ProgressEndsAtTheLastRecord) {
  startSim();
  ChildProcess terminal({"/usr/bin/script", "-qec", flashCommand() + " >/dev/null", "/dev/null"});
  EXPECT_EQ(terminal.finish(), 0) << terminal.err;
  const std::size_t last = terminal.out.rfind("records ");
  ASSERT_NE(last, std::string::npos) << terminal.out;
  EXPECT_TRUE(terminal.out.substr(last).starts_with("records 513/513  100%")) << terminal.out.substr(last);
  EXPECT_TRUE(terminal.out.ends_with("\r\n")) << "a line of its own";
}

// Why a port could not be had, naming the device node behind a COM name.
TEST_F(FlashCli, PortProblemsExplained) {
  startSim();
  const std::string missing = (dir_.path() / "ttyNone").string();
  struct Case {
    std::string port, why;
  };
  std::vector<Case> cases = {{"/dev/null", "/dev/null is not a serial port"},
                             {missing, missing + " does not exist"},
                             {sim_->path(), sim_->path() + " is in use by another program"}};
  if (!std::filesystem::exists("/dev/ttyUSB7")) cases.push_back({"COM12", "COM12 is /dev/ttyUSB7, which does not exist"});
  PosixSerialPlatform other(PortMap().set(1, sim_->path()));
  OpenResult held = other.open(1);
  ASSERT_TRUE(held.port);
  for (const Case& c : cases) {
    EXPECT_EQ(flash({"--port", c.port, "--identify"}), 3) << c.port;
    EXPECT_EQ(out_, "Последовательный порт " + c.port + "\nПорт не открыт\n");
    EXPECT_EQ(err_, "isp-flash: " + c.why + "\n");
  }
  held.port.reset();
  EXPECT_EQ(flash({"--port", sim_->path(), "--identify"}), 0);
  EXPECT_EQ(out_, "Последовательный порт " + sim_->path() + "\nУстройство SIM-1 в режиме программирования\n");
}

TEST_F(FlashCli, UsageAndVersion) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--port", "COM21", "--file", "x"},
      {"--port", "COM1"},
      {"--port", "0", "--identify"},
      {"--port", "COM1", "--file", "x", "--interval", "-1"},
      {"--port", "COM1", "--identify", "--file", "x"},
      {"--bogus"},
  };
  for (const auto& args : bad) {
    EXPECT_EQ(flash(args), 2) << (args.empty() ? "" : args[0]);
    // One line, and where to read more.
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
    EXPECT_NE(err_.find("--help"), std::string::npos) << err_;
  }
  EXPECT_EQ(flash({"--version"}), 0);
  EXPECT_EQ(out_, "isp-flash 1.0.4\n");
  EXPECT_EQ(flash({"--help"}), 0);
  EXPECT_NE(out_.find("--interval"), std::string::npos);
}

// The one whole transfer at the normal 250 ms pace: about 128 s, so it runs
// only under the label "slow". It checks the result; the benchmark measures
// the time.
TEST_F(FlashCli, NormalPace) {
  startSim();
  EXPECT_EQ(flash({"--port", sim_->path(), "--file", firmware_}), 0) << out_ << err_;
  EXPECT_EQ(sim_->image(), image_);
}

// The command line's record clock: ticks on a fixed grid, late ones at once.
TEST(TickSchedule, StaysOnItsGrid) {
  struct Case {
    int periodMs;
    std::vector<int> finishedAtMs;  // when each tick's exchange ended
    std::vector<int> nextAtMs;      // when the following tick is due
  };
  const Case cases[] = {
      {250, {251, 502, 760}, {500, 750, 1000}},  // small delays never add up
      {250, {260, 1310}, {500, 1500}},           // a long exchange skips the slots it overran
      {250, {499, 500}, {500, 750}},
      {0, {76, 152}, {76, 152}},                 // no interval: next as soon as acknowledged
  };
  for (const Case& c : cases) {
    const TimePoint t0{};
    cli::TickSchedule s(t0, milliseconds(c.periodMs));
    EXPECT_EQ(s.next(), t0 + milliseconds(c.periodMs));
    for (std::size_t i = 0; i < c.finishedAtMs.size(); ++i) {
      s.ticked(t0 + milliseconds(c.finishedAtMs[i]));
      EXPECT_EQ(s.next(), t0 + milliseconds(c.nextAtMs[i])) << "period " << c.periodMs << ", tick " << i;
    }
  }
}

}  // namespace
}  // namespace isp::test
