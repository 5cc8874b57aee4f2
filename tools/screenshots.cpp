// Renders the main window (idle, and in the middle of a transfer), the
// about box and the station window to PNG files, offscreen, with stand-ins
// as the devices.
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

  // The station window with four ports of a line: one device done, one
  // under way, one refused at record 100, one port waiting.
  const std::filesystem::path line = firmware + ".line";
  std::filesystem::create_directories(line);
  const auto at = [&](const char* name) { return (line / name).string(); };
  isp::station::StationWindow station({QString::fromStdString(firmware),
                                       {QString::fromStdString(at("ttyUSB0")), QString::fromStdString(at("ttyUSB1")),
                                        QString::fromStdString(at("ttyUSB2")), QString::fromStdString(at("ttyUSB3"))},
                                       QString::fromStdString(at("report.jsonl")),
                                       20});
  station.show();
  ok = QTest::qWaitForWindowExposed(&station) && station.start() && ok;
  const auto says = [&](const std::string& port, const char* words) {
    const auto* tile = station.findChild<isp::station::PortTile*>(QString::fromStdString(port));
    return tile && tile->stateText().contains(QString::fromUtf8(words));
  };
  const auto first = isp::startStandIn("isp-screenshots", {.device = so.device, .linkPath = at("ttyUSB0")});
  ok = QTest::qWaitFor([&] { return says(at("ttyUSB0"), "завершено"); }, 60000) && ok;
  const auto second = isp::startStandIn("isp-screenshots", {.device = so.device, .linkPath = at("ttyUSB1")});
  const auto third = isp::startStandIn("isp-screenshots", {.device = {.errorAt = 100}, .linkPath = at("ttyUSB2")});
  ok = QTest::qWaitFor([&] { return says(at("ttyUSB2"), "Ошибка") && says(at("ttyUSB1"), "блок 3"); }, 60000) && ok;
  ok = station.grab().save(dir + QStringLiteral("/station.png")) && ok;
  station.stop();
  ok = QTest::qWaitFor([&] { return !station.running(); }, 10000) && ok;

  sim->stop();
  std::remove(firmware.c_str());
  std::filesystem::remove_all(line);
  return ok ? 0 : 1;
}
