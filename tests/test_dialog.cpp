// The dialog on Qt's offscreen platform, driven like a user would, against
// the stand-in on pseudo-terminals mapped to COM numbers. What the rules
// decide is tested with them; here, that the window passes it on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/qt/about_box.h"
#include "gui/qt/main_dialog.h"
#include "serial/posix/serial_posix.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

using ui::CMainDialog;

class DialogTest : public ::testing::Test {
 protected:
  // The window with COMn a stand-in for each n given.
  void open(std::initializer_list<int> ports, const sim::SimulatorOptions& device = {}) {
    PortMap map;
    for (int n : ports) {
      sims_[n] = startSimulator(device);
      map.set(n, device.linkPath.empty() ? sims_[n]->path() : device.linkPath);
    }
    platform_ = std::make_unique<PosixSerialPlatform>(map);
    link_ = std::make_unique<Link>(*platform_);
    const auto chooseFile = [this](QWidget*) { return std::optional(QString::fromStdString(firmware_)); };
    dialog_ = std::make_unique<CMainDialog>(*link_, CMainDialog::Options{.timerPeriodMs = 1, .chooseFile = chooseFile});
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  }

  template <typename W = QPushButton>
  W* control(const char* id) {
    W* w = dialog_->findChild<W*>(QString::fromLatin1(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
  QString logText() { return control<QPlainTextEdit>("IDC_LOG")->toPlainText(); }
  void click(const char* id) { QTest::mouseClick(control(id), Qt::LeftButton); }
  bool waitIdle(int ms = 60000) {
    return QTest::qWaitFor([&] { return control("IDC_TRANSMIT")->isEnabled(); }, ms);
  }
  // Whether doing `act` opens the about box (closed again at once).
  static bool opensAbout(const std::function<void()>& act) {
    bool opened = false;
    QTimer::singleShot(50, [&] {
      if (auto* about = qobject_cast<ui::CAboutBox*>(QApplication::activeModalWidget())) {
        opened = true;
        about->accept();
      }
    });
    act();
    QTest::qWait(60);
    return opened;
  }

  TempDir dir_;
  std::vector<std::uint8_t> image_ = sampleImage();
  std::string firmware_ = dir_.write("прошивка.isp", image_);
  std::map<int, std::unique_ptr<sim::Simulator>> sims_;
  std::unique_ptr<PosixSerialPlatform> platform_;
  std::unique_ptr<Link> link_;
  std::unique_ptr<CMainDialog> dialog_;
};

TEST_F(DialogTest, PortListAndPortChanges) {
  open({10, 3, 2});
  auto* ports = control<QComboBox>("IDC_PORT");
  ASSERT_EQ(ports->count(), 3);
  EXPECT_EQ(QStringList({ports->itemText(0), ports->itemText(1), ports->itemText(2)}),
            QStringList({"COM2", "COM3", "COM10"}));
  EXPECT_EQ(ports->itemData(2, Qt::ToolTipRole).toString().toStdString(), sims_[10]->path());
  EXPECT_EQ(ports->currentIndex(), 0);
  EXPECT_EQ(dialog_->rules().linkRecord().selectedPort, 2);
  EXPECT_EQ(dialog_->rules().log(), "");

  ASSERT_EQ(dialog_->rules().identifyAndLog(), 0);
  ASSERT_EQ(link_->openPort(), 2);
  // Losing the focus without a change keeps the open port.
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(ports, &out);
  EXPECT_EQ(link_->openPort(), 2);
  // Choosing COM10 closes COM2; nothing is open until the next exchange.
  ports->setCurrentIndex(2);
  emit ports->activated(2);
  EXPECT_EQ(link_->openPort(), 0);
  EXPECT_EQ(dialog_->rules().linkRecord().selectedPort, 10);
}

// Unplugged in the middle, stopped by the user, then whole: each transfer
// ends as it should, without a hang, and the device, back after its
// hang-up, gets the image.
TEST_F(DialogTest, UnpluggedStoppedThenWhole) {
  sim::SimulatorOptions o{.device = {.hangupAt = 100}, .reopenAfterMs = 300};
  o.linkPath = (dir_.path() / "ttyDEV").string();
  open({4}, o);
  click("IDC_FILE");
  EXPECT_EQ(dialog_->rules().log(), "Выбран файл прошивка.isp\r\nФайл открыт\r\n");
  click("IDC_TRANSMIT");
  EXPECT_FALSE(control("IDC_FILE")->isEnabled());
  EXPECT_FALSE(control<QComboBox>("IDC_PORT")->isEnabled());
  ASSERT_TRUE(waitIdle(10000));
  EXPECT_TRUE(logText().endsWith(QStringLiteral("Ошибка 256, блок 100\nПрограммирование не завершено\n")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return sims_[4]->linesOpened() == 2; }, 5000));

  click("IDC_TRANSMIT");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return logText().contains(QStringLiteral("начато")) && sims_[4]->recordCount() >= 5; }, 30000));
  click("IDC_STOP");
  EXPECT_TRUE(logText().endsWith(QStringLiteral("Передача остановлена\n"))) << logText().toStdString();
  EXPECT_FALSE(control("IDC_STOP")->isEnabled());

  click("IDC_TRANSMIT");
  EXPECT_TRUE(control("IDC_STOP")->isEnabled());
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(logText(), QStringLiteral("Последовательный порт COM4\nУстройство SIM-1 в режиме программирования\n"
                                      "Программирование устройства начато\nПрограммирование завершено\n"));
  EXPECT_EQ(control<QProgressBar>("IDC_PROGRESS")->value(), 511);
  EXPECT_TRUE(control("IDC_FILE")->isEnabled());
  EXPECT_EQ(sims_[4]->image(), image_);
}

TEST_F(DialogTest, ThreeWaysTheWindowEnds) {
  const struct {
    const char* name;
    std::function<void()> end;
    int result;
    bool releases;
  } ways[] = {
      {"Exit", [this] { click("IDOK"); }, QDialog::Accepted, true},
      {"close", [this] { dialog_->close(); }, QDialog::Rejected, true},
      {"Escape", [this] { QTest::keyClick(dialog_.get(), Qt::Key_Escape); }, QDialog::Rejected, false},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    open({4});
    click("IDC_FILE");
    ASSERT_EQ(dialog_->rules().identifyAndLog(), 0);
    way.end();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), way.result);
    EXPECT_EQ(dialog_->rules().image().fileOpen(), !way.releases);
    EXPECT_EQ(link_->openPort(), way.releases ? 0 : 4);
    dialog_.reset();
  }
}

// The window without ports, and its about box: where a user finds it and
// what it says.
TEST_F(DialogTest, WithoutPortsAndTheAboutBox) {
  // Without ports: an empty list, a log line that says so, and Exit as the
  // default button with the focus.
  open({});
  auto* ports = control<QComboBox>("IDC_PORT");
  EXPECT_EQ(std::pair(ports->count(), ports->currentIndex()), std::pair(0, -1));
  EXPECT_EQ(logText().trimmed(), QStringLiteral("Последовательные порты не обнаружены"));
  auto* bar = control<QProgressBar>("IDC_PROGRESS");
  EXPECT_EQ(std::tuple(bar->minimum(), bar->maximum(), bar->value()), std::tuple(0, 512, 0));
  EXPECT_FALSE(control("IDC_STOP")->isEnabled());
  EXPECT_TRUE(control("IDC_TRANSMIT")->isEnabled());
  EXPECT_TRUE(control("IDOK")->isDefault());
  EXPECT_EQ(dialog_->focusWidget(), control("IDOK"));

  // System commands 0x10 to 0x1F open the about box; others do not.
  for (unsigned id : {0x10u, 0x1Fu, 0x20u, 0xF060u})
    EXPECT_EQ(opensAbout([&] { dialog_->OnSysCommand(id); }), id <= 0x1F) << std::hex << id;

  // Where a user looks for it: F1, and the context menu over the log too,
  // below the log's own entries.
  dialog_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
  EXPECT_TRUE(opensAbout([&] { QTest::keyClick(dialog_.get(), Qt::Key_F1); }));
  auto* log = control<QPlainTextEdit>("IDC_LOG");
  EXPECT_TRUE(opensAbout([&] {
    QTimer::singleShot(0, [] {
      QWidget* menu = QApplication::activePopupWidget();
      if (!menu) return;
      QTest::keyClick(menu, Qt::Key_Up);  // the last entry
      QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), log->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(log->viewport(), &event);
  }));

  ui::CAboutBox box;
  box.show();
  const QString text = QString::fromStdString(box.helpText());
  // The wiring keeps its exact spacing: two spaces, or a tab, before the hyphen.
  EXPECT_TRUE(text.contains(QStringLiteral("Устройство - Компьютер\r\n2  -  3\r\n3\t-  2\r\n5\t-  5\r\n\r\n")));
  box.hide();
  box.show();
  EXPECT_EQ(QString::fromStdString(box.helpText()), text) << "opening again does not double the text";
  auto* help = box.findChild<QPlainTextEdit*>(QStringLiteral("IDC_HELP_TEXT"));
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->toPlainText(), QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

// "Все файлы (*.*)" lists every file, names without a dot too; the labels
// read exactly as they always have.
TEST(FileDialog, FiltersShowTheirLabelsAndMatchEveryName) {
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  ui::setFirmwareFilters(dialog);
  auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(types, nullptr);
  ASSERT_EQ(types->count(), 2);
  EXPECT_EQ(types->itemText(0), QStringLiteral("Файл программы (*.isp)"));
  EXPECT_EQ(types->itemText(1), QStringLiteral("Все файлы (*.*)"));
  auto* model = dialog.findChild<QFileSystemModel*>();
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*.isp")});
  dialog.selectNameFilter(dialog.nameFilters().at(1));
  EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*")});
}

}  // namespace
}  // namespace isp::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
