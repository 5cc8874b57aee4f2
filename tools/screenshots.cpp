// Renders the main window (idle, and in the middle of a transfer), the
// about box and the station window (a line at work, and 16 ports named by
// their USB paths waiting for their adapters) to PNG files, offscreen, with
// stand-ins as the devices.
//   isp-screenshots DIR
#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "gui/qt/about_box.h"
#include "gui/qt/main_dialog.h"
#include "gui/station/port_tile.h"
#include "gui/station/station_window.h"
#include "programs/command_line.h"
#include "serial/posix/serial_posix.h"
#include "sim/stand_in.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: isp-screenshots DIR\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qargc = 1;
  QApplication app(qargc, argv);
  const QString dir = QString::fromLocal8Bit(argv[1]);

  isp::sim::SimulatorOptions so;
  so.device.identText = "ISP \xCF\xD0\xC8\xC1\xCE\xD0-1";  // "ПРИБОР-1" in code page 1251
  const auto sim = isp::startStandIn("isp-screenshots", so);

  const std::string firmware = "/tmp/isp-screenshot-" + std::to_string(QCoreApplication::applicationPid()) + ".isp";
  std::vector<char> image(isp::wire::kImageSize, '\x5A');
  std::ofstream(firmware, std::ios::binary).write(image.data(), static_cast<long>(image.size()));

  isp::PosixSerialPlatform platform(
      isp::PortMap().set(1, "/dev/null-port").set(3, sim->path()).set(5, "/dev/null-port"));
  isp::Link link(platform);
  isp::ui::CMainDialog::Options o;
  o.chooseFile = [&](QWidget*) { return std::optional<QString>(QString::fromStdString(firmware)); };
  isp::ui::CMainDialog dialog(link, o);
  dialog.show();
  bool ok = QTest::qWaitForWindowExposed(&dialog);
  ok = dialog.grab().save(dir + QStringLiteral("/main-idle.png")) && ok;

  QTest::mouseClick(dialog.findChild<QWidget*>(QStringLiteral("IDC_FILE")), Qt::LeftButton);
  QTest::mouseClick(dialog.findChild<QWidget*>(QStringLiteral("IDC_TRANSMIT")), Qt::LeftButton);
  ok = QTest::qWaitFor([&] { return dialog.rules().block() >= 200; }, 120000) && ok;
  ok = dialog.grab().save(dir + QStringLiteral("/main-transfer.png")) && ok;
  dialog.OnStop();

  isp::ui::CAboutBox about(&dialog);
  about.show();
  ok = QTest::qWaitForWindowExposed(&about) && ok;
  ok = about.grab().save(dir + QStringLiteral("/about.png")) && ok;

  // The station window with 16 ports of a line at 1280 x 1024: devices
  // done, under way at the line's pace, refused at record 100, not in
  // programming mode, silent, and adapters not plugged in.
  const std::filesystem::path line = firmware + ".line";
  std::filesystem::create_directories(line);
  const auto at = [&](int i) { return (line / ("ttyUSB" + std::to_string(i))).string(); };
  std::vector<std::string> ports;
  for (int i = 0; i < 16; ++i) ports.push_back(at(i));
  isp::station::StationWindow station(
      {.file = firmware, .ports = ports, .report = {.file = (line / "report.jsonl").string()}, .intervalMs = 0});
  station.resize(1280, 1024);
  station.show();
  ok = QTest::qWaitForWindowExposed(&station) && station.start() && ok;
  const auto says = [&](int i, const char* words) {
    const auto* tile = station.findChild<isp::station::PortTile*>(QString::fromStdString(at(i)));
    return tile && tile->stateText().contains(QString::fromUtf8(words));
  };
  std::vector<std::unique_ptr<isp::sim::Simulator>> devices;
  for (int i = 0; i < 6; ++i)
    devices.push_back(isp::startStandIn("isp-screenshots", {.device = so.device, .linkPath = at(i)}));
  ok = QTest::qWaitFor([&] { return says(5, "завершено"); }, 60000) && ok;
  for (int i = 6; i < 10; ++i)
    devices.push_back(isp::startStandIn("isp-screenshots", {.device = so.device, .baud = 19200, .linkPath = at(i)}));
  devices.push_back(isp::startStandIn("isp-screenshots", {.device = {.errorAt = 100}, .linkPath = at(10)}));
  devices.push_back(isp::startStandIn("isp-screenshots", {.device = {.notReady = true}, .linkPath = at(11)}));
  devices.push_back(isp::startStandIn("isp-screenshots", {.device = {.silent = true}, .linkPath = at(12)}));
  ok = QTest::qWaitFor([&] { return says(10, "Ошибка") && says(9, "блок 40"); }, 60000) && ok;
  ok = station.grab().save(dir + QStringLiteral("/station.png")) && ok;
  station.stop();
  ok = QTest::qWaitFor([&] { return !station.running(); }, 10000) && ok;
  devices.clear();

  // A line of 16 ports named by their USB paths, none plugged in, the
  // window placed as at its first start on the screen it is given.
  std::vector<std::string> byPath;
  for (int n = 1; n <= 16; ++n)
    byPath.push_back("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1." + std::to_string(n) + ":1.0-port0");
  isp::station::StationWindow waiting(
      {.file = firmware, .ports = byPath, .report = {.file = (line / "waiting.jsonl").string()}, .intervalMs = 0});
  waiting.placeOnScreen({});
  waiting.show();
  ok = QTest::qWaitForWindowExposed(&waiting) && waiting.start() && ok;
  const auto* last = waiting.findChild<isp::station::PortTile*>(QString::fromStdString(byPath.back()));
  ok = QTest::qWaitFor([&] { return last && last->stateText() == QStringLiteral("нет адаптера"); }, 10000) && ok;
  QTest::qWait(100);  // the tiles' layouts settle
  ok = waiting.grab().save(dir + QStringLiteral("/station-16-by-path.png")) && ok;
  waiting.stop();
  ok = QTest::qWaitFor([&] { return !waiting.running(); }, 10000) && ok;

  sim->stop();
  std::remove(firmware.c_str());
  std::filesystem::remove_all(line);
  return ok ? 0 : 1;
}
