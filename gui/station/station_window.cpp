#include "gui/station/station_window.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/common/qt_text.h"
#include "gui/station/port_list.h"
#include "gui/station/port_tile.h"
#include "production/station_words.h"
#include "text/escape.h"

namespace isp::station {

namespace w = production::words;

QString defaultReportFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/isp-programmer/reports");
}

namespace {

QLabel* redLabel(const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(name));
  label->setWordWrap(true);
  label->setStyleSheet(QStringLiteral("color: #a00000"));
  return label;
}

}  // namespace

StationWindow::StationWindow(production::KeptSettings settings, production::StationControlOptions options,
                             QWidget* parent)
    : QWidget(parent) {
  setWindowTitle(ui::qtText(w::kTitle));
  auto* layout = new QVBoxLayout(this);

  setup_ = new QWidget(this);
  auto* form = new QFormLayout(setup_);
  file_ = new QLineEdit(setup_);
  file_->setReadOnly(true);
  file_->setAccessibleName(ui::qtText(w::kFile));
  // A field with its chooser beside it.
  const auto withButton = [&](std::string_view label, QWidget* field, std::string_view button) {
    auto* row = new QHBoxLayout;
    auto* choose = new QPushButton(ui::qtText(button), setup_);
    row->addWidget(field);
    row->addWidget(choose);
    form->addRow(ui::qtText(label), row);
    return choose;
  };
  auto* chooseFile = withButton(w::kFile, file_, w::kChooseFile);
  fileFacts_ = new QLabel(setup_);
  form->addRow(QString(), fileFacts_);
  ports_ = new PortList(setup_);
  ports_->setMaximumHeight(140);
  form->addRow(ui::qtText(w::kPorts), ports_);
  report_ = new QLineEdit(setup_);
  report_->setAccessibleName(ui::qtText(w::kReport));
  auto* chooseReport = withButton(w::kReport, report_, w::kChooseFolder);
  interval_ = new QSpinBox(setup_);
  interval_->setRange(0, production::kMaxIntervalMs);
  interval_->setSuffix(ui::qtText(w::kMs));
  interval_->setAccessibleName(ui::qtText(w::kIntervalName));
  form->addRow(ui::qtText(w::kInterval), interval_);
  broker_ = new QLineEdit(QString::fromStdString(settings.publish.url), setup_);
  broker_->setPlaceholderText(QStringLiteral("mqtt://HOST:1883"));
  broker_->setAccessibleName(ui::qtText(w::kBroker));
  form->addRow(ui::qtText(w::kBroker), broker_);
  kept_ = redLabel("keptProblems", setup_);
  form->addRow(QString(), kept_);
  auto* saveLine = new QPushButton(ui::qtText(w::kSaveLine), setup_);
  saveLine->setObjectName(QStringLiteral("saveLine"));
  form->addRow(QString(), saveLine);
  layout->addWidget(setup_);

  start_ = new QPushButton(ui::qtText(w::kStart), this);
  stop_ = new QPushButton(ui::qtText(w::kStop), this);
  stop_->setEnabled(false);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addWidget(status_, 1);
  layout->addLayout(buttons);
  brokerState_ = new QLabel(this);
  brokerState_->setObjectName(QStringLiteral("broker"));
  brokerState_->setVisible(false);
  layout->addWidget(brokerState_);
  fileChanged_ = redLabel("fileChanged", this);
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

  lines_ = new QTableWidget(0, std::size(w::kRowHeadings), this);
  lines_->setObjectName(QStringLiteral("reportLines"));
  lines_->setAccessibleName(ui::qtText(w::kRowsName));
  QStringList headings;
  for (std::string_view h : w::kRowHeadings) headings << ui::qtText(h);
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
  for (QLabel* label : findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);

  if (options.line) {  // operator mode: the line file's set-up, shown and not changed
    for (QPushButton* b : {chooseFile, chooseReport, saveLine}) b->hide();
    setWindowTitle(QString::fromStdString(escapeControls(options.line->name)));
    report_->setReadOnly(true);
    interval_->setReadOnly(true);
    broker_->setReadOnly(true);
    interval_->setButtonSymbols(QAbstractSpinBox::NoButtons);
    ports_->fixed = true;
    auto* note = new QLabel(QString::fromStdString(production::operatorModeWords(*options.line)), setup_);
    note->setObjectName(QStringLiteral("operatorMode"));
    note->setWordWrap(true);
    form->insertRow(0, note);
  }
  if (options.defaultReportFolder.empty()) options.defaultReportFolder = defaultReportFolder().toStdString();
  control_ = std::make_unique<production::StationControl>(static_cast<production::StationScreen&>(*this),
                                                          std::move(settings), std::move(options));
  interval_->setValue(control_->settings().intervalMs);
  broker_->setText(QString::fromStdString(control_->settings().publish.url));

  connect(chooseFile, &QPushButton::clicked, this, &StationWindow::chooseFile);
  connect(chooseReport, &QPushButton::clicked, this, &StationWindow::chooseReport);
  connect(saveLine, &QPushButton::clicked, this, &StationWindow::saveLine);
  connect(start_, &QPushButton::clicked, this, &StationWindow::start);
  connect(stop_, &QPushButton::clicked, this, &StationWindow::stop);
  connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this, &StationWindow::start);
  connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5), this), &QShortcut::activated, this, &StationWindow::stop);
  connect(&clock_, &QTimer::timeout, this, [this] { control_->tick(); });
  clock_.start(1000);
  frame_.setSingleShot(true);
  connect(&frame_, &QTimer::timeout, this, [this] { control_->draw(); });
  ports_->onChosen = [this](const std::string& name, bool chosen) { control_->choosePort(name, chosen); };
  connect(report_, &QLineEdit::textEdited, this,
          [this](const QString& text) { control_->typeReport(text.toStdString()); });
  connect(broker_, &QLineEdit::textEdited, this,
          [this](const QString& text) { control_->typePublish(text.trimmed().toStdString()); });
  connect(interval_, &QSpinBox::valueChanged, this, [this](int ms) { control_->typeInterval(std::to_string(ms)); });
}

StationWindow::~StationWindow() { control_->stopNow(); }

void StationWindow::placeOnScreen(const QByteArray& kept) {
  if (!kept.isEmpty() && restoreGeometry(kept)) return;  // held within the screen it is now on
  setGeometry(screen()->availableGeometry());
  setWindowState(windowState() | Qt::WindowMaximized);
}

void StationWindow::chooseFile() {
  const QString path = QFileDialog::getOpenFileName(
      this, ui::qtText(w::kFile), file_->text(),
      ui::qtText(w::kFileFilter) + QStringLiteral(";;") + ui::qtText(w::kAllFiles) + QStringLiteral(" (*)"));
  control_->chooseFile(path.toStdString());
}

void StationWindow::chooseReport() {
  const QString dir =
      QFileDialog::getExistingDirectory(this, ui::qtText(w::kReportFolder), QFileInfo(report_->text()).absolutePath());
  control_->chooseReportFolder(dir.toStdString());
}

void StationWindow::saveLine() {
  const QString path =
      QFileDialog::getSaveFileName(this, ui::qtText(w::kSaveLine), QString(), ui::qtText(w::kLineFilter));
  control_->saveLine(path.toStdString());
}

void StationWindow::showStatus(const std::string& words, bool alarm) {
  status_->setText(QString::fromStdString(words));
  status_->setStyleSheet(alarm ? QStringLiteral("color: #a00000") : QString());
}

void StationWindow::showFirmware(const std::string& path, const std::string& facts, bool alarm) {
  file_->setText(QString::fromStdString(path));
  fileFacts_->setText(QString::fromStdString(facts));
  fileFacts_->setStyleSheet(alarm ? QStringLiteral("color: #a00000") : QString());
}

void StationWindow::showReport(const std::string& path) { report_->setText(QString::fromStdString(path)); }

void StationWindow::showKept(const std::string& problems) {
  kept_->setText(QString::fromStdString(problems));
  kept_->setVisible(!problems.empty());
}

void StationWindow::showPorts(const std::vector<production::PortRow>& rows) { ports_->show(rows); }

void StationWindow::showBroker(const std::string& words, bool alarm) {
  brokerState_->setText(QString::fromStdString(words));
  brokerState_->setStyleSheet(alarm ? QStringLiteral("color: #a00000") : QString());
  brokerState_->setVisible(!words.empty());
}

void StationWindow::showFileChanged(const std::string& words) {
  fileChanged_->setText(QString::fromStdString(words));
  fileChanged_->setVisible(!words.empty());
}

}  // namespace isp::station
