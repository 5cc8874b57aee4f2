// Renders the main window (idle, and in the middle of a transfer) and the
// about box to PNG files, offscreen, with the stand-in as the device.
//   isp-screenshots DIR
#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <vector>

#include "gui/qt/about_box.h"
#include "gui/qt/main_dialog.h"
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

  sim->stop();
  std::remove(firmware.c_str());
  return ok ? 0 : 1;
}
