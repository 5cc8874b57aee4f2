#include "gui/station/station_window.h"

#include <QCloseEvent>
#include <QColor>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "gui/common/qt_text.h"
#include "gui/station/port_list.h"
#include "gui/station/port_tile.h"
#include "production/line_setup.h"
#include "production/os.h"
#include "production/station_settings.h"
#include "production/station_words.h"
#include "programming/file_access.h"
#include "programming/messages.h"

namespace isp::station {

namespace {

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

QString defaultReportFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/isp-programmer/reports");
}

StationWindow::StationWindow(StationSettings settings, QWidget* parent) : QWidget(parent) {
  setWindowTitle(ui::qtText(production::words::kTitle));
  auto* layout = new QVBoxLayout(this);

  setup_ = new QWidget(this);
  auto* form = new QFormLayout(setup_);
  file_ = new QLineEdit(setup_);
  file_->setReadOnly(true);
  // A field with its chooser beside it.
  const auto withButton = [&](const QString& label, QWidget* field, const QString& button) {
    auto* row = new QHBoxLayout;
    auto* choose = new QPushButton(button, setup_);
    row->addWidget(field);
    row->addWidget(choose);
    form->addRow(label, row);
    return choose;
  };
  auto* chooseFile =
      withButton(ui::qtText(production::words::kFile), file_, ui::qtText(production::words::kChooseFile));
  fileFacts_ = new QLabel(setup_);
  form->addRow(QString(), fileFacts_);
  comPorts_ = settings.comPorts;
  ports_ = new PortList(settings.ports, comPorts_, setup_);
  ports_->setMaximumHeight(140);
  form->addRow(ui::qtText(production::words::kPorts), ports_);
  if (settings.report.isEmpty())
    reportFolder_ = settings.reportFolder.isEmpty() ? defaultReportFolder() : settings.reportFolder;
  report_ = new QLineEdit(
      reportFolder_.isEmpty() ? settings.report : fromUtf8(production::dayFileIn(reportFolder_.toStdString())), setup_);
  report_->setAccessibleName(ui::qtText(production::words::kReport));
  auto* chooseReport =
      withButton(ui::qtText(production::words::kReport), report_, ui::qtText(production::words::kChooseFolder));
  interval_ = new QSpinBox(setup_);
  interval_->setRange(0, production::kMaxIntervalMs);
  interval_->setSuffix(ui::qtText(production::words::kMs));
  interval_->setValue(settings.intervalMs);
  interval_->setAccessibleName(ui::qtText(production::words::kIntervalName));
  form->addRow(ui::qtText(production::words::kInterval), interval_);
  kept_ = new QLabel(setup_);
  kept_->setObjectName(QStringLiteral("keptProblems"));
  kept_->setWordWrap(true);
  kept_->setStyleSheet(QStringLiteral("color: #a00000"));
  form->addRow(QString(), kept_);
  problems_ = settings.problems;
  layout->addWidget(setup_);

  start_ = new QPushButton(ui::qtText(production::words::kStart), this);
  stop_ = new QPushButton(ui::qtText(production::words::kStop), this);
  stop_->setEnabled(false);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addWidget(status_, 1);
  layout->addLayout(buttons);
  fileChanged_ = new QLabel(this);
  fileChanged_->setObjectName(QStringLiteral("fileChanged"));
  fileChanged_->setWordWrap(true);
  fileChanged_->setStyleSheet(QStringLiteral("color: #a00000"));
  fileChanged_->setVisible(false);
  layout->addWidget(fileChanged_);

  auto* area = new QScrollArea(this);
  auto* tiles = new QWidget(area);
  tiles_ = new QGridLayout(tiles);
  tiles_->setContentsMargins(0, 0, 0, 0);
  area->setWidget(tiles);
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  layout->addWidget(area, 3);

  totals_ = new QLabel(this);
  totals_->setObjectName(QStringLiteral("totals"));
  QFont big = totals_->font();
  big.setPointSizeF(big.pointSizeF() * 1.8);
  big.setBold(true);
  totals_->setFont(big);
  totals_->setWordWrap(true);  // never cut, however narrow the window
  layout->addWidget(totals_);

  lines_ = new QTableWidget(0, std::size(production::words::kRowHeadings), this);
  lines_->setObjectName(QStringLiteral("reportLines"));
  lines_->setAccessibleName(ui::qtText(production::words::kRowsName));
  QStringList headings;
  for (std::string_view h : production::words::kRowHeadings) headings << ui::qtText(h);
  lines_->setHorizontalHeaderLabels(headings);
  lines_->horizontalHeader()->setStretchLastSection(true);
  lines_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lines_->verticalHeader()->setVisible(false);
  lines_->verticalHeader()->setDefaultSectionSize(lines_->fontMetrics().height() + 6);
  lines_->setWordWrap(false);
  // A few lines are enough at a glance; the tiles get the rest of the height.
  lines_->setMaximumHeight(lines_->horizontalHeader()->sizeHint().height() +
                           5 * lines_->fontMetrics().height() * 3 / 2);
  layout->addWidget(lines_, 1);

  connect(chooseFile, &QPushButton::clicked, this, &StationWindow::chooseFile);
  connect(chooseReport, &QPushButton::clicked, this, &StationWindow::chooseReport);
  connect(start_, &QPushButton::clicked, this, &StationWindow::start);
  connect(stop_, &QPushButton::clicked, this, &StationWindow::stop);
  connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this, &StationWindow::start);
  connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5), this), &QShortcut::activated, this, &StationWindow::stop);
  connect(&clock_, &QTimer::timeout, this, [this] {
    showTotals();
    checkFile();
  });
  // Adapters come and go while the line is set up.
  connect(&refresh_, &QTimer::timeout, ports_, &PortList::refresh);
  refresh_.start(2000);
  // A kept value that cannot be used stands until the operator changes it.
  connect(ports_, &QListWidget::itemChanged, this, [this] { corrected(production::Setting::Ports); });
  connect(report_, &QLineEdit::textEdited, this, [this] {
    reportFolder_.clear();  // a file the user names
    corrected(production::Setting::Report);
  });
  connect(interval_, &QSpinBox::valueChanged, this, [this] { corrected(production::Setting::Interval); });

  for (QLabel* label : findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  if (!settings.file.isEmpty()) loadImage(settings.file);
  showTotals();
  showKept();
}

StationWindow::~StationWindow() { stopNow(); }

StationSettings StationWindow::settings() const {
  return {file_->text(),      ports_->chosen(), reportFolder_.isEmpty() ? report_->text() : QString(),
          interval_->value(), comPorts_,        reportFolder_,
          problems_};
}

void StationWindow::placeOnScreen(const QByteArray& kept) {
  if (!kept.isEmpty() && restoreGeometry(kept)) return;  // held within the screen it is now on
  setGeometry(screen()->availableGeometry());
  setWindowState(windowState() | Qt::WindowMaximized);
}

void StationWindow::corrected(production::Setting setting) {
  problems_.erase(setting);
  showKept();
}

void StationWindow::showKept() {
  kept_->setText(fromUtf8(production::problemWords(problems_)));
  kept_->setVisible(!problems_.empty());
}

// The file is read at once, and again at each start: a file that cannot
// hold an image is refused before any device is in sight, and what the
// window says of the image is what the line programs.
bool StationWindow::loadImage(const QString& path) {
  file_->setText(path);
  image_ = production::readImageFile(path.toStdString());
  fileFacts_->setText(fromUtf8(production::factsWords(*image_)));
  fileFacts_->setStyleSheet(image_->whole ? QString() : QStringLiteral("color: #a00000"));
  return image_->whole;
}

// While the line runs it keeps the image it loaded; a file changed on disk
// since is said, so that nobody thinks the new one is being programmed.
void StationWindow::checkFile() {
  if (!running() || fileChanged_->isVisible() || !image_->changedOnDisk()) return;
  fileChanged_->setVisible(true);
  fileChanged_->setText(fromUtf8(production::changedWords(*image_)));
}

void StationWindow::chooseFile() {
  const QString path =
      QFileDialog::getOpenFileName(this, ui::qtText(production::words::kFile), file_->text(),
                                   ui::qtText(production::words::kFileFilter) + QStringLiteral(";;") +
                                       ui::qtText(production::words::kAllFiles) + QStringLiteral(" (*)"));
  if (!path.isEmpty()) loadImage(path);
}

void StationWindow::chooseReport() {
  const QString dir = QFileDialog::getExistingDirectory(this, ui::qtText(production::words::kReportFolder),
                                                        QFileInfo(report_->text()).absolutePath());
  if (dir.isEmpty()) return;
  reportFolder_ = dir;
  report_->setText(fromUtf8(production::dayFileIn(dir.toStdString())));
  corrected(production::Setting::Report);
}

void StationWindow::refuse(const QString& why) {
  status_->setText(why);
  status_->setStyleSheet(QStringLiteral("color: #a00000"));
}

}  // namespace isp::station
