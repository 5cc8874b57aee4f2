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
  void open(std::initializer_list<int> ports) {
    PortMap map;
    for (int n : ports) map.set(n, (sims_[n] = startSimulator())->path());
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
  // Which of File, the port list, Transmit and Stop are enabled: "1110".
  std::string enabled() {
    std::string on;
    for (const char* id : {"IDC_FILE", "IDC_PORT", "IDC_TRANSMIT", "IDC_STOP"})
      on += control<QWidget>(id)->isEnabled() ? '1' : '0';
    return on;
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
  std::string firmware_ = dir_.write("прошивка.isp", sampleImage());
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

  ASSERT_EQ(dialog_->rules().identifyAndLog(), 0);
  ASSERT_EQ(link_->openPort(), PortTarget::com(2));
  // Losing the focus without a change keeps the open port.
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(ports, &out);
  EXPECT_EQ(link_->openPort(), PortTarget::com(2));
  // Choosing COM10 closes COM2; nothing is open until the next exchange.
  ports->setCurrentIndex(2);
  emit ports->activated(2);
  EXPECT_FALSE(link_->isOpen());
  EXPECT_EQ(dialog_->rules().linkRecord().selectedPort, 10);
}

// Each control reaches its handler and the view shows what the rules say: a
// file chosen, a transfer on the window's timer, and Stop.
TEST_F(DialogTest, ControlsDriveATransfer) {
  open({4});
  click("IDC_FILE");
  EXPECT_EQ(logText(), QStringLiteral("Выбран файл прошивка.isp\nФайл открыт\n"));
  click("IDC_TRANSMIT");
  EXPECT_EQ(enabled(), "0001");
  ASSERT_TRUE(QTest::qWaitFor([&] { return sims_[4]->recordCount() >= 5; }, 30000));
  click("IDC_STOP");
  EXPECT_EQ(enabled(), "1110");
}

TEST_F(DialogTest, ThreeWaysTheWindowEnds) {
  // How it is ended, the dialog's result, and whether the file and port are released.
  const std::tuple<const char*, std::function<void()>, int, bool> ways[] = {
      {"Exit", [this] { click("IDOK"); }, QDialog::Accepted, true},
      {"close", [this] { dialog_->close(); }, QDialog::Rejected, true},
      {"Escape", [this] { QTest::keyClick(dialog_.get(), Qt::Key_Escape); }, QDialog::Rejected, false},
  };
  for (const auto& [name, end, result, releases] : ways) {
    SCOPED_TRACE(name);
    open({4});
    click("IDC_FILE");
    ASSERT_EQ(dialog_->rules().identifyAndLog(), 0);
    end();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), result);
    EXPECT_EQ(dialog_->rules().image().fileOpen(), !releases);
    EXPECT_EQ(link_->isOpen(), !releases);
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
  EXPECT_EQ(enabled(), "1110");
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
      if (QWidget* menu = QApplication::activePopupWidget())
        for (Qt::Key key : {Qt::Key_Up, Qt::Key_Return}) QTest::keyClick(menu, key);  // the last entry, chosen
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), log->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(log->viewport(), &event);
  }));

  // Opened twice: its text is built afresh, not doubled. The wiring keeps its
  // exact spacing: two spaces, or a tab, before the hyphen.
  ui::CAboutBox box;
  box.show();
  box.hide();
  box.show();
  const QString text = QString::fromStdString(box.helpText());
  EXPECT_EQ(text.count(QStringLiteral("Устройство - Компьютер\r\n2  -  3\r\n3\t-  2\r\n5\t-  5\r\n\r\n")), 1);
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
  auto* model = dialog.findChild<QFileSystemModel*>();
  ASSERT_TRUE(types && model);
  ASSERT_EQ(types->count(), 2);
  EXPECT_EQ(QStringList({types->itemText(0), types->itemText(1)}),
            QStringList({"Файл программы (*.isp)", "Все файлы (*.*)"}));
  EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*.isp")});
  dialog.selectNameFilter(dialog.nameFilters().at(1));
  EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*")});
}

}  // namespace
}  // namespace isp::test

// The windows' tests, this file's and the station window's, on one application.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
