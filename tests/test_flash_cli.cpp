// isp-flash end to end: the program itself, against the stand-in on a
// pseudo-terminal, with --interval 0 unless the normal pace is the point.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "serial_posix.h"
#include "simulator.h"
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

  TempDir dir_;
  std::vector<std::uint8_t> image_ = sampleImage();
  std::string firmware_ = dir_.write("fw.isp", image_);
  std::unique_ptr<sim::Simulator> sim_;
  std::string out_, err_;
};

TEST_F(FlashCli, ProgramsTheImageByteForByte) {
  startSim();
  const std::string log = (dir_.path() / "run.log").string();
  auto args = flashArgs(firmware_);
  args.insert(args.end(), {"--log", log});
  EXPECT_EQ(flash(args), 0) << err_;
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
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 60s);
}

const FaultCase kFaults[] = {
    {"silent", [](auto& d) { d.silent = true; }, "Устройство не обнаружено\n", 3},
    {"not_ready", [](auto& d) { d.notReady = true; }, "Устройство APP SIM-1 не готово к программированию\n", 3},
    {"identification_refused", [](auto& d) { d.errorAt = sim::kAtIdentify; }, "Устройство не готово\n", 3},
    {"error_at_7", [](auto& d) { d.errorAt = 7; d.errorCode = 5; }, "Ошибка 5, блок 7\nПрограммирование не завершено\n", 1},
    {"bad_checksum_at_300", [](auto& d) { d.badChecksumAt = 300; }, "Ошибка 257, блок 300\nПрограммирование не завершено\n", 1},
    {"late_at_12", [](auto& d) { d.delayAt = 12; }, "Ошибка 256, блок 12\nПрограммирование не завершено\n", 1},
    {"partial_at_5", [](auto& d) { d.partialAt = 5; }, "Ошибка 257, блок 5\nПрограммирование не завершено\n", 1},
    {"oversize_at_0", [](auto& d) { d.oversizeAt = 0; }, "Ошибка 257, блок 0\nПрограммирование не завершено\n", 1},
    {"hang_up_at_50", [](auto& d) { d.hangupAt = 50; }, "Ошибка 256, блок 50\nПрограммирование не завершено\n", 1},
};

INSTANTIATE_TEST_SUITE_P(Injected, FlashFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCli, FileProblems) {
  startSim();
  EXPECT_EQ(flash(flashArgs((dir_.path() / "none.isp").string())), 4);
  EXPECT_EQ(out_, "Выбран файл none.isp\nФайл не открыт\n");
  EXPECT_EQ(sim_->framesHandled(), 0) << "the device is not touched";

  // Too short by one byte, or a folder: refused before the device is touched.
  std::vector<std::uint8_t> shortImage(image_.begin(), image_.end() - 1);
  EXPECT_EQ(flash(flashArgs(dir_.write("short.isp", shortImage))), 4);
  EXPECT_EQ(out_, "Выбран файл short.isp\nФайл открыт\nОшибка чтения файла\n");
  EXPECT_EQ(flash(flashArgs(dir_.path().string())), 4);
  EXPECT_TRUE(out_.ends_with("Ошибка чтения файла\n")) << out_;
  EXPECT_EQ(sim_->framesHandled(), 0);
}

TEST_F(FlashCli, CtrlCStops) {
  startSim();
  // 20 ms between records leaves the whole transfer 10 s: time enough to
  // interrupt it however slowly this test is scheduled.
  const int status = flash({"--port", sim_->path(), "--file", firmware_, "--interval", "20"}, [&](ChildProcess& child) {
    const auto t0 = std::chrono::steady_clock::now();
    while (sim_->recordCount() < 20 && std::chrono::steady_clock::now() - t0 < 30s) std::this_thread::sleep_for(1ms);
    child.signal(SIGINT);
  });
  EXPECT_EQ(status, 130);
  EXPECT_TRUE(out_.ends_with("Программирование устройства начато\nПередача остановлена\n")) << out_;
  EXPECT_LT(sim_->recordCount(), 513u);
}

TEST_F(FlashCli, BusyPortAndIdentify) {
  startSim();
  PosixSerialPlatform other(PortMap().set(1, sim_->path()));
  {
    OpenResult held = other.open(1);
    ASSERT_TRUE(held.port);
    EXPECT_EQ(flash({"--port", sim_->path(), "--identify"}), 3);
    EXPECT_EQ(out_, "Последовательный порт " + sim_->path() + "\nПорт не открыт\n");
    EXPECT_NE(err_.find("in use by another program"), std::string::npos) << err_;
  }
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
  for (const auto& args : bad) EXPECT_EQ(flash(args), 2) << (args.empty() ? "" : args[0]);
  EXPECT_EQ(flash({"--version"}), 0);
  EXPECT_EQ(out_, "isp-flash 1.0.4\n");
  EXPECT_EQ(flash({"--help"}), 0);
  EXPECT_NE(out_.find("--interval"), std::string::npos);
}

// The one whole transfer at the normal 250 ms pace: about 128 s. It checks
// the result only; the benchmark measures the time.
TEST_F(FlashCli, NormalPace) {
  startSim();
  EXPECT_EQ(flash({"--port", sim_->path(), "--file", firmware_}), 0) << out_ << err_;
  EXPECT_EQ(sim_->image(), image_);
}

}  // namespace
}  // namespace isp::test
