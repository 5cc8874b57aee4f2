#include "gui/station/station_window.h"

#include <QCloseEvent>
#include <QColor>
#include <QCoreApplication>
#include <QDate>
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
#include "production/os.h"
#include "programming/file_access.h"
#include "programming/messages.h"

namespace isp::station {

namespace {

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

QString defaultReport() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/isp-programmer/reports/") + QDate::currentDate().toString(Qt::ISODate) +
         QStringLiteral(".jsonl");
}

StationWindow::StationWindow(StationSettings settings, QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Станция программирования"));
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
  auto* chooseFile = withButton(QStringLiteral("Файл программы"), file_, QStringLiteral("Файл…"));
  fileFacts_ = new QLabel(setup_);
  form->addRow(QString(), fileFacts_);
  comPorts_ = settings.comPorts;
  ports_ = new PortList(settings.ports, comPorts_, setup_);
  ports_->setMaximumHeight(140);
  form->addRow(QStringLiteral("Порты"), ports_);
  report_ = new QLineEdit(settings.report.isEmpty() ? defaultReport() : settings.report, setup_);
  report_->setAccessibleName(QStringLiteral("Отчёт"));
  auto* chooseReport = withButton(QStringLiteral("Отчёт"), report_, QStringLiteral("Папка…"));
  interval_ = new QSpinBox(setup_);
  interval_->setRange(0, production::kMaxIntervalMs);
  interval_->setSuffix(QStringLiteral(" мс"));
  interval_->setValue(settings.intervalMs);
  interval_->setAccessibleName(QStringLiteral("Интервал между блоками"));
  form->addRow(QStringLiteral("Интервал"), interval_);
  layout->addWidget(setup_);

  start_ = new QPushButton(QStringLiteral("&Начать (F5)"), this);
  stop_ = new QPushButton(QStringLiteral("&Остановить (Shift+F5)"), this);
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
  layout->addWidget(totals_);

  lines_ = new QTableWidget(0, 6, this);
  lines_->setObjectName(QStringLiteral("reportLines"));
  lines_->setAccessibleName(QStringLiteral("Последние строки отчёта"));
  lines_->setHorizontalHeaderLabels({QStringLiteral("Время"), QStringLiteral("Порт"), QStringLiteral("Устройство"),
                                     QStringLiteral("Итог"), QStringLiteral("Длительность"), QStringLiteral("Отчёт")});
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

  for (QLabel* label : findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  if (!settings.file.isEmpty()) loadImage(settings.file);
  showTotals();
  resize(1100, 800);
}

StationWindow::~StationWindow() { stopNow(); }

StationSettings StationWindow::settings() const {
  return {file_->text(), ports_->chosen(), report_->text(), interval_->value(), comPorts_};
}

void StationWindow::showFacts(const QString& text, bool bad) {
  fileFacts_->setText(text);
  fileFacts_->setStyleSheet(bad ? QStringLiteral("color: #a00000") : QString());
}

// The file is read at once, and again at each start: a file that cannot
// hold an image is refused before any device is in sight, and what the
// window says of the image is what the line programs.
bool StationWindow::loadImage(const QString& path) {
  file_->setText(path);
  std::string lines;
  image_.choose(path.toStdString(), lines);
  const bool opened = image_.fileOpen();
  imageOk_ = opened && image_.fileCanHoldImage() && image_.makeReady(lines);
  if (!imageOk_) {
    showFacts(opened ? QStringLiteral("Файл не подходит: в нём нет %1 байт").arg(wire::kImageSize)
                     : QStringLiteral("Файл не открыт: ") + fromUtf8(openFailure(image_.openError())),
              true);
    return false;
  }
  facts_ = production::imageFacts(path.toStdString(), image_);
  std::error_code ec;
  fileSize_ = std::filesystem::file_size(path.toStdString(), ec);
  fileTime_ = std::filesystem::last_write_time(path.toStdString(), ec);
  QString text = QStringLiteral("%1 байт, SHA-256 %2").arg(facts_.size).arg(fromUtf8(facts_.sha256.substr(0, 12)));
  if (fileSize_ > facts_.size)
    text +=
        QStringLiteral("; файл длиннее образа (%1 байт): передаются только первые %2").arg(fileSize_).arg(facts_.size);
  showFacts(text, false);
  return true;
}

// While the line runs it keeps the image it loaded; a file changed on disk
// since is said, so that nobody thinks the new one is being programmed.
void StationWindow::checkFile() {
  if (!running() || !imageOk_) return;
  std::error_code size, time;
  const auto bytes = std::filesystem::file_size(file_->text().toStdString(), size);
  const auto when = std::filesystem::last_write_time(file_->text().toStdString(), time);
  if (!size && !time && bytes == fileSize_ && when == fileTime_) return;
  fileChanged_->setVisible(true);
  fileChanged_->setText(
      QStringLiteral("Файл программы изменён на диске; программируется образ, загруженный при запуске "
                     "(SHA-256 %1). Новый файл будет прочитан при следующем запуске.")
          .arg(fromUtf8(facts_.sha256.substr(0, 12))));
}

void StationWindow::chooseFile() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Файл программы"), file_->text(),
                                                    QStringLiteral("Файл программы (*.isp);;Все файлы (*)"));
  if (!path.isEmpty()) loadImage(path);
}

void StationWindow::chooseReport() {
  const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Папка отчётов"),
                                                        QFileInfo(report_->text()).absolutePath());
  if (!dir.isEmpty()) report_->setText(dir + QLatin1Char('/') + QFileInfo(defaultReport()).fileName());
}

void StationWindow::refuse(const QString& why) {
  status_->setText(why);
  status_->setStyleSheet(QStringLiteral("color: #a00000"));
}

}  // namespace isp::station
