// The transfer engine against the stand-in on a pseudo-terminal, with the
// record timer ticked by hand.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

#include "firmware_transfer.h"
#include "serial_posix.h"
#include "support/fixtures.h"

namespace isp::test {
namespace {

class RecordingView final : public TransferView {
 public:
  std::string shown;
  std::map<Control, bool> enabled;
  std::vector<std::string> journal;  // enable and timer calls in order
  int progress = -100;
  bool timer = false;
  std::function<void()> onProgress;  // runs inside a tick

  void refreshLog(const std::string& text) override { shown = text; }
  void setProgressRange(int low, int high) override { note("range " + std::to_string(low) + " " + std::to_string(high)); }
  void setProgress(int position) override {
    progress = position;
    if (onProgress) onProgress();
  }
  void enable(Control c, bool on) override {
    enabled[c] = on;
    static const char* names[] = {"File", "Port", "Transmit", "Stop"};
    note(std::string(on ? "enable " : "disable ") + names[static_cast<int>(c)]);
  }
  void startRecordTimer(int id, int period) override {
    timer = true;
    note("timer " + std::to_string(id) + " " + std::to_string(period));
  }
  void stopRecordTimer(int id) override {
    timer = false;
    note("kill " + std::to_string(id));
  }
  void note(std::string what) { journal.push_back(std::move(what)); }
};

class TransferTest : public ::testing::Test {
 protected:
  explicit TransferTest(sim::DeviceOptions d = {}) : device(startSimulator(std::move(d))) { link.rec.selectedPort = 1; }

  // Transmit, then tick until the engine stops the timer.
  void transmit() {
    engine.OnTransmit();
    for (int i = 0; i < 600 && view.timer; ++i) engine.OnTimer(FirmwareTransfer::kTimerId);
  }

  TempDir files;
  std::vector<std::uint8_t> image = sampleImage();
  std::unique_ptr<sim::Simulator> device;
  PosixSerialPlatform platform{PortMap().set(1, device->path())};
  Link link{platform};
  RecordingView view;
  FirmwareTransfer engine{link, view};
};

const std::string kIdentified = "Последовательный порт COM1\r\nУстройство SIM-1 в режиме программирования\r\n";

TEST_F(TransferTest, CompleteTransferAndAgain) {
  engine.OnFile(files.write("fw.isp", image));
  EXPECT_EQ(view.shown, "Выбран файл fw.isp\r\nФайл открыт\r\n");
  engine.OnTransmit();
  EXPECT_EQ(view.shown, kIdentified + "Файл считан\r\n");
  EXPECT_EQ(view.journal, (std::vector<std::string>{"timer 1 250", "disable File", "disable Port", "disable Transmit",
                                                    "enable Stop"}));
  view.journal.clear();
  for (int i = 0; i < 600 && view.timer; ++i) engine.OnTimer(1);
  EXPECT_EQ(view.shown, kIdentified + "Файл считан\r\nПрограммирование устройства начато\r\nПрограммирование завершено\r\n");
  EXPECT_EQ(view.journal, (std::vector<std::string>{"range 0 512", "kill 1", "disable Stop", "enable File",
                                                    "enable Port", "enable Transmit"}));
  EXPECT_EQ(device->image(), image);
  EXPECT_TRUE(device->faults().empty()) << "records went in order with the right flags";
  EXPECT_EQ(view.progress, 511);
  EXPECT_EQ(engine.status(), FirmwareTransfer::Completed);
  EXPECT_EQ(engine.block(), 0);

  // Again, after a cancelled choice and one that fails to open: the loaded
  // image is not read again and the same records go out.
  engine.OnFile(std::nullopt);
  engine.OnFile(files.write("missing/x.isp", {}));
  transmit();
  EXPECT_TRUE(view.shown.starts_with(kIdentified + "Программирование устройства начато")) << view.shown;
  EXPECT_EQ(engine.status(), FirmwareTransfer::Completed);
  EXPECT_EQ(device->framesHandled(), 2 * (1 + 513));
}

TEST_F(TransferTest, StopAndStrayTicks) {
  engine.OnFile(files.write("fw.isp", image));
  engine.OnTransmit();
  engine.OnTimer(2);  // another timer's tick
  EXPECT_EQ(device->framesHandled(), 1);
  engine.OnTimer(1);
  // A tick that arrives while a tick is handled (a nested message loop).
  view.onProgress = [&] { engine.OnTimer(1); };
  engine.OnTimer(1);
  view.onProgress = nullptr;
  EXPECT_EQ(device->recordCount(), 2u);
  engine.OnStop();
  EXPECT_TRUE(view.shown.ends_with("Программирование устройства начато\r\nПередача остановлена\r\n"));
  EXPECT_FALSE(view.timer);
  EXPECT_FALSE(view.enabled[Control::Stop]);
  EXPECT_EQ(engine.status(), FirmwareTransfer::Stopped);
  engine.OnTimer(1);
  EXPECT_EQ(device->recordCount(), 2u) << "no record after Stop";
}

struct FailCase {
  const char* name;
  sim::DeviceOptions device;
  std::string lastLines;
  int progress;  // -100: the bar is not touched
};
void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

sim::DeviceOptions fault(const std::function<void(sim::DeviceOptions&)>& set) {
  sim::DeviceOptions o;
  set(o);
  return o;
}
sim::DeviceOptions identError(int code) {
  return fault([code](auto& o) { o.errorAt = sim::kAtIdentify; o.errorCode = code; });
}

class FailingTransferTest : public TransferTest, public ::testing::WithParamInterface<FailCase> {
 protected:
  FailingTransferTest() : TransferTest(GetParam().device) {}
};

// A transfer ends at the first failed record; an identification that fails
// logs one line and starts nothing, before the file is read.
TEST_P(FailingTransferTest, LogLinesAndControls) {
  engine.OnFile(files.write("fw.isp", image));
  view.journal.clear();
  transmit();
  EXPECT_TRUE(view.shown.ends_with(GetParam().lastLines)) << view.shown;
  EXPECT_EQ(view.progress, GetParam().progress);
  EXPECT_FALSE(view.timer);
  EXPECT_NE(engine.status(), FirmwareTransfer::Completed);
  if (GetParam().progress == -100) {
    EXPECT_EQ(view.shown, "Последовательный порт COM1\r\n" + GetParam().lastLines);
    EXPECT_TRUE(view.journal.empty()) << "no button, timer or bar is touched";
    EXPECT_TRUE(engine.image().fileOpen()) << "the file is read only for a transfer";
  } else {
    EXPECT_FALSE(view.enabled[Control::Stop]);
    EXPECT_TRUE(view.enabled[Control::Transmit] && view.enabled[Control::File] && view.enabled[Control::Port]);
  }
}

const FailCase kFailures[] = {
    {"header_no_reply", fault([](auto& o) { o.delayAt = 0; }), "Ошибка 256, блок 0\r\nПрограммирование не завершено\r\n", 0},
    {"record_7_device_code_5", fault([](auto& o) { o.errorAt = 7; o.errorCode = 5; }),
     "Ошибка 5, блок 7\r\nПрограммирование не завершено\r\n", 6},
    {"not_in_programming_mode", fault([](auto& o) { o.notReady = true; }),
     "Устройство APP SIM-1 не готово к программированию\r\n", -100},
    {"code_1", identError(1), "Ошибка 1\r\n", -100},
    {"code_2", identError(2), "Ошибка формата данных\r\n", -100},
    {"code_3", identError(3), "Ошибка параметров команды\r\n", -100},
    {"code_4", identError(4), "Устройство не готово\r\n", -100},
    {"code_200", identError(200), "Ошибка 200\r\n", -100},
    {"bad_checksum", fault([](auto& o) { o.badChecksumAt = sim::kAtIdentify; }), "Ошибка контрольной суммы\r\n", -100},
    {"silent", fault([](auto& o) { o.silent = true; }), "Устройство не обнаружено\r\n", -100},
};

INSTANTIATE_TEST_SUITE_P(Faults, FailingTransferTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

class NamedDeviceTest : public TransferTest {
 protected:
  NamedDeviceTest() : TransferTest(fault([](auto& o) { o.identText = "ISP \xCF\xF0\xE8\xE1\xEE\xF0 \xB9" "1"; })) {}
};

TEST_F(NamedDeviceTest, NameDecodedFromCp1251AndNoFile) {
  engine.OnTransmit();
  EXPECT_EQ(view.shown, "Последовательный порт COM1\r\nУстройство Прибор №1 в режиме программирования\r\n"
                        "Файл программы не открыт\r\n");
  EXPECT_EQ(engine.lastTransmit(), FirmwareTransfer::TransmitOutcome::NoImage);
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
  transmit();
  longer.resize(66690);
  EXPECT_EQ(device->image(), longer);
  // A, then B before any transfer: B is sent. Bytes 0xFF are data, not the end.
  const std::vector<std::uint8_t> ff(66690, 0xFF);
  engine.OnFile(files.write("a.isp", image));
  engine.OnFile(files.write("ff.isp", ff));
  transmit();
  EXPECT_EQ(device->image(), ff);
}

// A reply that comes after its time-out must not be read as the answer to
// a later request: the port stays open between transfers.
class LateReplyTest : public TransferTest {
 protected:
  LateReplyTest() : TransferTest(fault([](auto& o) { o.delayAt = 3; o.delay = std::chrono::milliseconds(300); })) {}
};

TEST_F(LateReplyTest, DoesNotPoisonTheNextTransfer) {
  engine.OnFile(files.write("fw.isp", image));
  transmit();
  EXPECT_TRUE(view.shown.ends_with("Ошибка 256, блок 3\r\nПрограммирование не завершено\r\n")) << view.shown;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the late acknowledgement is in by now
  transmit();
  EXPECT_EQ(engine.status(), FirmwareTransfer::Completed) << view.shown;
  EXPECT_EQ(device->image(), image);
}

}  // namespace
}  // namespace isp::test
