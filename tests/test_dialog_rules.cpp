// The main window's rules against the stand-in on a pseudo-terminal, with the
// record timer ticked by hand.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <tuple>

#include "programming/dialog_rules.h"
#include "serial/posix/serial_posix.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

// What the rules shows: the log, the bar, the controls and the timer.
class RecordingView final : public TransferView {
 public:
  std::string shown;
  std::map<Control, bool> enabled;
  int range = 0, progress = -100;    // not set
  int timerPeriod = 0;               // 0: stopped
  std::function<void()> onProgress;  // runs inside a tick

  void refreshLog(const std::string& text) override { shown = text; }
  void setProgressRange(int, int high) override { range = high; }
  void setProgress(int position) override {
    progress = position;
    if (onProgress) onProgress();
  }
  void enable(Control c, bool on) override { enabled[c] = on; }
  void startRecordTimer(int id, int period) override { timerPeriod = id == MainDialogRules::kTimerId ? period : -1; }
  void stopRecordTimer(int id) override { timerPeriod = id == MainDialogRules::kTimerId ? 0 : -1; }
  // Only Stop is enabled while the timer runs, and only Stop is not after.
  bool transferring(bool on) const {
    const std::map<Control, bool> want = {
        {Control::File, !on}, {Control::Port, !on}, {Control::Transmit, !on}, {Control::Stop, on}};
    return enabled == want && (timerPeriod != 0) == on;
  }
};

const std::string kIdentified = "Последовательный порт COM1\r\nУстройство SIM-1 в режиме программирования\r\n";

// The rules on COM1 with the stand-in behind it.
struct Rig {
  explicit Rig(sim::DeviceOptions d = {}) : device(startSimulator({.device = std::move(d)})) {
    rules.OnInitDialog();  // COM1, the one port there is, selected
  }
  // Transmit, then tick until the rules stops the timer.
  void transmit() {
    rules.OnTransmit();
    for (int i = 0; i < 600 && view.timerPeriod != 0; ++i) rules.OnTimer(MainDialogRules::kTimerId);
  }

  TempDir files;
  std::vector<std::uint8_t> image = sampleImage();
  std::unique_ptr<sim::Simulator> device;
  PosixSerialPlatform platform{PortMap().set(1, device->path())};
  Link link{platform};
  RecordingView view;
  MainDialogRules rules{link, view};
};

TEST(DialogRules, CompleteTransferAndAgain) {
  Rig r;
  r.rules.OnFile(r.files.write("fw.isp", r.image));
  EXPECT_EQ(r.view.shown, "Выбран файл fw.isp\r\nФайл открыт\r\n");
  r.rules.OnTransmit();
  EXPECT_EQ(r.view.shown, kIdentified + "Файл считан\r\n");
  EXPECT_TRUE(r.view.transferring(true) && r.view.timerPeriod == 250);
  for (int i = 0; i < 600 && r.view.timerPeriod != 0; ++i) r.rules.OnTimer(1);
  EXPECT_EQ(r.view.shown,
            kIdentified + "Файл считан\r\nПрограммирование устройства начато\r\nПрограммирование завершено\r\n");
  EXPECT_TRUE(r.view.transferring(false));
  EXPECT_EQ(std::tuple(r.view.range, r.view.progress, r.rules.status(), r.rules.block()),
            std::tuple(512, 511, Outcome::Completed, 0));
  EXPECT_EQ(r.device->image(), r.image);
  EXPECT_TRUE(r.device->faults().empty()) << "records went in order with the right flags";

  // Again, after a cancelled choice and one that fails to open: the loaded
  // image is not read again and the same records go out.
  r.rules.OnFile(std::nullopt);
  r.rules.OnFile(r.files.write("missing/x.isp", {}));
  r.transmit();
  EXPECT_TRUE(r.view.shown.starts_with(kIdentified + "Программирование устройства начато")) << r.view.shown;
  EXPECT_EQ(r.rules.status(), Outcome::Completed);
  EXPECT_EQ(r.device->framesHandled(), 2 * (1 + 513));
}

TEST(DialogRules, StopAndStrayTicks) {
  Rig r;
  r.rules.OnFile(r.files.write("fw.isp", r.image));
  r.rules.OnTransmit();
  r.rules.OnTimer(2);  // another timer's tick
  EXPECT_EQ(r.device->framesHandled(), 1);
  r.rules.OnTimer(1);
  // A tick that arrives while a tick is handled (a nested message loop).
  r.view.onProgress = [&] { r.rules.OnTimer(1); };
  r.rules.OnTimer(1);
  r.view.onProgress = nullptr;
  EXPECT_EQ(r.device->recordCount(), 2u);
  r.rules.OnStop();
  EXPECT_TRUE(r.view.shown.ends_with("Программирование устройства начато\r\nПередача остановлена\r\n"));
  EXPECT_TRUE(r.view.transferring(false));
  EXPECT_EQ(r.rules.status(), Outcome::Stopped);
  r.rules.OnTimer(1);
  EXPECT_EQ(r.device->recordCount(), 2u) << "no record after Stop";
}

// A transfer ends at the first failed record; an identification that fails
// logs one line and starts nothing, before the file is read.
TEST(DialogRules, EachFailureEndsWithItsLogLine) {
  const auto identError = [](int code) { return sim::DeviceOptions{.errorAt = sim::kAtIdentify, .errorCode = code}; };
  // The device, the log's last lines, and where the bar is left (-100: not touched).
  const std::tuple<const char*, sim::DeviceOptions, const char*, int> cases[] = {
      {"header_no_reply", {.delayAt = 0}, "Ошибка 256, блок 0\r\nПрограммирование не завершено\r\n", 0},
      {"record_7_code_5", {.errorAt = 7, .errorCode = 5}, "Ошибка 5, блок 7\r\nПрограммирование не завершено\r\n", 6},
      {"not_in_programming_mode", {.notReady = true}, "Устройство APP SIM-1 не готово к программированию\r\n", -100},
      {"code_2", identError(2), "Ошибка формата данных\r\n", -100},
      {"code_3", identError(3), "Ошибка параметров команды\r\n", -100},
      {"code_4", identError(4), "Устройство не готово\r\n", -100},
      {"code_200", identError(200), "Ошибка 200\r\n", -100},
      {"bad_checksum", {.badChecksumAt = sim::kAtIdentify}, "Ошибка контрольной суммы\r\n", -100},
      {"silent", {.silent = true}, "Устройство не обнаружено\r\n", -100},
  };
  for (const auto& [name, device, lastLines, progress] : cases) {
    SCOPED_TRACE(name);
    Rig r(device);
    r.rules.OnFile(r.files.write("fw.isp", r.image));
    r.view = RecordingView{};
    r.transmit();
    EXPECT_TRUE(r.view.shown.ends_with(lastLines)) << r.view.shown;
    EXPECT_EQ(r.view.progress, progress);
    EXPECT_NE(r.rules.status(), Outcome::Completed);
    if (progress != -100) {
      EXPECT_TRUE(r.view.transferring(false));
      continue;
    }
    EXPECT_EQ(r.view.shown, std::string("Последовательный порт COM1\r\n") + lastLines);
    EXPECT_TRUE(r.view.enabled.empty() && r.view.range == 0 && r.view.timerPeriod == 0)
        << "no button, timer or bar is touched";
    EXPECT_TRUE(r.rules.image().fileOpen()) << "the file is read only for a transfer";
  }
}

// No file, then files that are not an image as they are. The device's name
// comes in CP1251.
TEST(DialogRules, FirmwareFiles) {
  Rig r({.identText = "ISP \xCF\xF0\xE8\xE1\xEE\xF0 \xB9"
                      "1"});
  r.rules.OnTransmit();
  EXPECT_EQ(r.view.shown,
            "Последовательный порт COM1\r\nУстройство Прибор №1 в режиме программирования\r\n"
            "Файл программы не открыт\r\n");
  EXPECT_FALSE(r.rules.running());
  // Short by one byte: fails, and keeps failing until a file is chosen anew.
  r.rules.OnFile(r.files.write("short.isp", sampleImage(66689, 2)));
  for (int i = 0; i < 2; ++i) {
    r.rules.OnTransmit();
    EXPECT_TRUE(r.view.shown.ends_with("в режиме программирования\r\nОшибка чтения файла\r\n"));
    EXPECT_EQ(r.view.timerPeriod, 0);
  }
  // Longer than the image: the first 66690 bytes are sent.
  const auto longer = sampleImage(70000, 3);
  r.rules.OnFile(r.files.write("long.bin", longer));
  r.transmit();
  EXPECT_EQ(r.device->image(), std::vector(longer.begin(), longer.begin() + 66690));
  // A, then B before any transfer: B is sent. Bytes 0xFF are data, not the end.
  const std::vector<std::uint8_t> ff(66690, 0xFF);
  r.rules.OnFile(r.files.write("a.isp", r.image));
  r.rules.OnFile(r.files.write("ff.isp", ff));
  r.transmit();
  EXPECT_EQ(r.device->image(), ff);
}

}  // namespace
}  // namespace isp::test
