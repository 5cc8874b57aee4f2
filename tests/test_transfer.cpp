// The transfer engine with the stand-in's device logic behind an in-memory
// port and the timer ticked by hand.
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <thread>

#include "firmware_transfer.h"
#include "serial_posix.h"
#include "support/device_platform.h"
#include "support/fixtures.h"

namespace isp::test {
namespace {

class RecordingView final : public TransferView {
 public:
  std::string shown;
  std::map<Control, bool> enabled{{Control::File, true}, {Control::Port, true}, {Control::Transmit, true},
                                  {Control::Stop, true}};
  std::vector<std::string> journal;  // enable/timer calls in order
  int progress = -100;
  int progressCalls = 0;
  bool timer = false;
  std::function<void()> onProgress;  // runs inside a tick

  void refreshLog(const std::string& text) override { shown = text; }
  void setProgressRange(int low, int high) override { journal.push_back("range " + std::to_string(low) + " " + std::to_string(high)); }
  void setProgress(int position) override {
    progress = position;
    ++progressCalls;
    if (onProgress) onProgress();
  }
  void enable(Control c, bool on) override {
    enabled[c] = on;
    static const char* names[] = {"File", "Port", "Transmit", "Stop"};
    journal.push_back(std::string(on ? "enable " : "disable ") + names[static_cast<int>(c)]);
  }
  void startRecordTimer(int id, int period) override {
    timer = true;
    journal.push_back("timer " + std::to_string(id) + " " + std::to_string(period));
  }
  void stopRecordTimer(int id) override {
    timer = false;
    journal.push_back("kill " + std::to_string(id));
  }
};

class TransferTest : public ::testing::Test {
 protected:
  explicit TransferTest(sim::DeviceOptions d = {}) : platform(std::move(d)) { link.rec.selectedPort = 1; }

  // Ticks until the engine stops the timer (at most a whole transfer and one).
  void tickToEnd() {
    for (int i = 0; i < 600 && view.timer; ++i) engine.OnTimer(1);
  }
  std::string fullFile() { return files.write("fw.isp", image); }

  TempDir files;
  std::vector<std::uint8_t> image = sampleImage(66690, 1);
  DevicePlatform platform;
  Link link{platform};
  RecordingView view;
  FirmwareTransfer engine{link, view};
};

TEST_F(TransferTest, CompleteTransfer) {
  engine.OnFile(fullFile());
  EXPECT_EQ(view.shown, "Выбран файл fw.isp\r\nФайл открыт\r\n");
  view.journal.clear();
  engine.OnTransmit();
  EXPECT_EQ(view.shown,
            "Последовательный порт COM1\r\nУстройство SIM-1 в режиме программирования\r\nФайл считан\r\n");
  EXPECT_EQ(view.journal, (std::vector<std::string>{"timer 1 250", "disable File", "disable Port",
                                                    "disable Transmit", "enable Stop"}));
  view.journal.clear();
  tickToEnd();
  EXPECT_EQ(view.shown,
            "Последовательный порт COM1\r\nУстройство SIM-1 в режиме программирования\r\nФайл считан\r\n"
            "Программирование устройства начато\r\nПрограммирование завершено\r\n");
  EXPECT_EQ(platform.device.framesHandled(), 1 + 513);
  EXPECT_TRUE(platform.device.faults().empty()) << "records went in order with the right flags";
  EXPECT_EQ(platform.device.image(), image);
  EXPECT_EQ(view.progress, 511);
  EXPECT_EQ(engine.status(), FirmwareTransfer::Completed);
  EXPECT_EQ(engine.block(), 0);
  EXPECT_EQ(view.journal, (std::vector<std::string>{"range 0 512", "kill 1", "disable Stop", "enable File",
                                                    "enable Port", "enable Transmit"}));

  // Again: the image is not read again, and the same records go out.
  engine.OnTransmit();
  EXPECT_EQ(view.shown, "Последовательный порт COM1\r\nУстройство SIM-1 в режиме программирования\r\n");
  tickToEnd();
  EXPECT_EQ(platform.device.image(), image);
  EXPECT_EQ(platform.device.framesHandled(), 2 * (1 + 513));

  // A cancelled choice keeps the loaded image; a file that fails to open too.
  engine.OnFile(std::nullopt);
  engine.OnFile(files.write("missing/x.isp", {}));
  EXPECT_TRUE(engine.image().imageLoaded());
  engine.OnTransmit();
  tickToEnd();
  EXPECT_EQ(engine.status(), FirmwareTransfer::Completed);
}

TEST_F(TransferTest, StopBeforeTheFirstTick) {
  engine.OnFile(fullFile());
  engine.OnTransmit();
  const int progressCalls = view.progressCalls;
  engine.OnStop();
  EXPECT_TRUE(view.shown.ends_with("Файл считан\r\nПередача остановлена\r\n"));
  EXPECT_EQ(platform.device.framesHandled(), 1) << "only the identification";
  EXPECT_EQ(view.progressCalls, progressCalls);
  EXPECT_FALSE(view.timer);
  EXPECT_FALSE(view.enabled[Control::Stop]);
  EXPECT_EQ(engine.status(), FirmwareTransfer::Stopped);
}

TEST_F(TransferTest, ForeignTimerAndNestedTicksDoNothing) {
  engine.OnFile(fullFile());
  engine.OnTransmit();
  engine.OnTimer(2);
  EXPECT_EQ(platform.device.framesHandled(), 1);
  engine.OnTimer(1);
  // A tick arriving while a tick is handled (a nested message loop).
  view.onProgress = [&] { engine.OnTimer(1); };
  engine.OnTimer(1);
  view.onProgress = nullptr;
  EXPECT_EQ(platform.device.records().size(), 2u);
  tickToEnd();
  EXPECT_EQ(platform.device.image(), image);
}

struct FailCase {
  const char* name;
  sim::DeviceOptions device;
  std::string lastLines;
  int progress;
};
void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class FailingTransferTest : public TransferTest, public ::testing::WithParamInterface<FailCase> {
 protected:
  FailingTransferTest() : TransferTest(GetParam().device) {}
};

sim::DeviceOptions fault(std::function<void(sim::DeviceOptions&)> set) {
  sim::DeviceOptions o;
  set(o);
  return o;
}

TEST_P(FailingTransferTest, EndsAtTheFirstFailedRecord) {
  engine.OnFile(fullFile());
  engine.OnTransmit();
  tickToEnd();
  EXPECT_TRUE(view.shown.ends_with(GetParam().lastLines)) << view.shown;
  EXPECT_EQ(view.progress, GetParam().progress);
  EXPECT_EQ(engine.status(), FirmwareTransfer::NotCompleted);
  EXPECT_FALSE(view.timer);
  EXPECT_TRUE(view.enabled[Control::Transmit] && view.enabled[Control::File] && view.enabled[Control::Port]);
  EXPECT_FALSE(view.enabled[Control::Stop]);
}

const FailCase kFailures[] = {
    {"header_no_reply", fault([](auto& o) { o.delayAt = 0; }), "Ошибка 256, блок 0\r\nПрограммирование не завершено\r\n", 0},
    {"record_7_device_code_5", fault([](auto& o) { o.errorAt = 7; o.errorCode = 5; }),
     "Ошибка 5, блок 7\r\nПрограммирование не завершено\r\n", 6},
};

INSTANTIATE_TEST_SUITE_P(Faults, FailingTransferTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

struct IdentifyCase {
  const char* name;
  sim::DeviceOptions device;
  std::string line;
};
void PrintTo(const IdentifyCase& c, std::ostream* os) { *os << c.name; }

class IdentifyLineTest : public TransferTest, public ::testing::WithParamInterface<IdentifyCase> {
 protected:
  IdentifyLineTest() : TransferTest(GetParam().device) {}
};

TEST_P(IdentifyLineTest, OneLineAndNoTransfer) {
  engine.OnFile(fullFile());
  view.journal.clear();
  engine.OnTransmit();
  EXPECT_EQ(view.shown, "Последовательный порт COM1\r\n" + GetParam().line + "\r\n");
  EXPECT_TRUE(view.journal.empty()) << "no button, timer or bar is touched";
  EXPECT_EQ(engine.lastTransmit(), FirmwareTransfer::TransmitOutcome::NotIdentified);
  EXPECT_TRUE(engine.image().fileOpen()) << "identification comes before the file is read";
}

auto identError(int code) {
  return fault([code](auto& o) { o.errorAt = sim::kAtIdentify; o.errorCode = code; });
}

const IdentifyCase kIdentifyLines[] = {
    {"not_in_programming_mode", fault([](auto& o) { o.notReady = true; }), "Устройство APP SIM-1 не готово к программированию"},
    {"code_1", identError(1), "Ошибка 1"},
    {"code_2", identError(2), "Ошибка формата данных"},
    {"code_3", identError(3), "Ошибка параметров команды"},
    {"code_200", identError(200), "Ошибка 200"},
    {"bad_checksum", fault([](auto& o) { o.badChecksumAt = sim::kAtIdentify; }), "Ошибка контрольной суммы"},
};

INSTANTIATE_TEST_SUITE_P(Results, IdentifyLineTest, ::testing::ValuesIn(kIdentifyLines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, DeviceNameIsDecodedFromCp1251) {
  DevicePlatform p(fault([](auto& o) { o.identText = "ISP \xCF\xF0\xE8\xE1\xEE\xF0 \xB9" "1"; }));
  Link l(p);
  l.rec.selectedPort = 1;
  FirmwareTransfer e(l, view);
  e.OnTransmit();
  EXPECT_EQ(view.shown, "Последовательный порт COM1\r\nУстройство Прибор №1 в режиме программирования\r\n"
                        "Файл программы не открыт\r\n");
}

TEST_F(TransferTest, FirmwareFiles) {
  // Short by one byte: fails, and keeps failing until a file is chosen anew.
  engine.OnFile(files.write("short.isp", sampleImage(66689, 2)));
  for (int i = 0; i < 2; ++i) {
    engine.OnTransmit();
    EXPECT_TRUE(view.shown.ends_with("в режиме программирования\r\nОшибка чтения файла\r\n"));
    EXPECT_FALSE(view.timer);
  }
  // Longer than the image: the first 66690 bytes are sent.
  auto longer = sampleImage(70000, 3);
  engine.OnFile(files.write("long.bin", longer));
  engine.OnTransmit();
  tickToEnd();
  longer.resize(66690);
  EXPECT_EQ(platform.device.image(), longer);

  // A, then B before any transfer: B is sent.
  const auto b = sampleImage(66690, 4);
  engine.OnFile(files.write("a.isp", sampleImage(66690, 5)));
  engine.OnFile(files.write("b.isp", b));
  engine.OnTransmit();
  tickToEnd();
  EXPECT_EQ(platform.device.image(), b);

  // All 0xFF stays 0xFF.
  const std::vector<std::uint8_t> ff(66690, 0xFF);
  engine.OnFile(files.write("ff.isp", ff));
  engine.OnTransmit();
  tickToEnd();
  EXPECT_EQ(platform.device.image(), ff);
}

TEST_F(TransferTest, NoFile) {
  engine.OnTransmit();
  EXPECT_EQ(view.shown,
            "Последовательный порт COM1\r\nУстройство SIM-1 в режиме программирования\r\nФайл программы не открыт\r\n");
  EXPECT_EQ(engine.lastTransmit(), FirmwareTransfer::TransmitOutcome::NoImage);
}

TEST_F(TransferTest, StopIsNeverEnabledWhileIdle) {
  engine.OnInitDialog();
  EXPECT_FALSE(view.enabled[Control::Stop]);
  engine.OnFile(fullFile());
  EXPECT_FALSE(view.enabled[Control::Stop]);
  engine.OnTransmit();
  EXPECT_TRUE(view.enabled[Control::Stop]);
  tickToEnd();
  EXPECT_FALSE(view.enabled[Control::Stop]);
}

// A reply that comes after its time-out must not be read as the answer to
// a later request: the port stays open between transfers.
TEST(TransferOnPty, LateReplyDoesNotPoisonTheNextTransfer) {
  sim::DeviceOptions late;
  late.delayAt = 3;
  late.delay = std::chrono::milliseconds(300);
  auto device = startSimulator(late);
  PosixSerialPlatform platform(PortMap().set(2, device->path()));
  Link link(platform);
  link.rec.selectedPort = 2;
  RecordingView view;
  FirmwareTransfer engine(link, view);
  TempDir files;
  const auto image = sampleImage();
  engine.OnFile(files.write("fw.isp", image));

  const auto transmit = [&] {
    engine.OnTransmit();
    for (int i = 0; i < 600 && view.timer; ++i) engine.OnTimer(1);
  };
  transmit();
  EXPECT_TRUE(view.shown.ends_with("Ошибка 256, блок 3\r\nПрограммирование не завершено\r\n")) << view.shown;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the late acknowledgement is in by now
  transmit();
  EXPECT_EQ(engine.status(), FirmwareTransfer::Completed) << view.shown;
  EXPECT_EQ(device->image(), image);
}

}  // namespace
}  // namespace isp::test
