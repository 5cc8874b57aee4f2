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

constexpr int kShownLines = 200;

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

// "завершено", "Ошибка 256, блок 100", ...: a finished device in a word.
QString resultWords(const production::JobResult& job) {
  switch (job.status) {
    case production::kCompleted: return QStringLiteral("завершено");
    case production::kNotCompleted: return ui::qtText(msg::recordError(job.code, job.failedBlock));
    case production::kNotIdentified: return QStringLiteral("не опознано");
    default: return QStringLiteral("остановлено");
  }
}

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

void StationWindow::stopNow() {
  if (!thread_) return;
  stop_source_.request_stop();
  thread_->join();
  thread_.reset();
  station_.reset();
  record_.reset();
}

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

bool StationWindow::start() {
  if (running()) return true;
  if (file_->text().isEmpty() || !loadImage(file_->text())) {
    refuse(QStringLiteral("Нет файла программы"));
    return false;
  }
  const StationSettings s = settings();
  std::vector<PortTarget> targets;
  for (const QString& name : s.ports)
    targets.push_back({name.toStdString(), portNumber(name.toStdString()).value_or(0)});
  if (targets.empty()) {
    refuse(QStringLiteral("Не выбран ни один порт"));
    return false;
  }
  // The record is opened before any device is touched, as isp-flash does.
  std::string error = makePrivateFolder(QFileInfo(s.report).absolutePath().toStdString());
  if (!error.empty()) {
    refuse(QStringLiteral("Папка отчёта не создана: ") + fromUtf8(error));
    return false;
  }
  auto file = production::RecordFile::open(s.report.toStdString(), &error);
  if (!file) {
    refuse(QStringLiteral("Отчёт не может быть записан: ") + fromUtf8(error));
    return false;
  }
  record_ = std::make_unique<production::ProductionRecord>(std::move(file));

  for (auto& [port, tile] : tileOf_) delete tile;
  tileOf_.clear();
  kindOf_.clear();
  // An even grid: as many columns as rows, or one more.
  const int n = static_cast<int>(targets.size());
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
  for (int c = 0; c < tiles_->columnCount(); ++c) tiles_->setColumnStretch(c, 0);
  for (int r = 0; r < tiles_->rowCount(); ++r) tiles_->setRowStretch(r, 0);
  for (int i = 0; i < n; ++i) {
    const QString name = fromUtf8(targets[i].name);
    auto* tile = new PortTile(name, ports_->whereOf(name));
    tiles_->addWidget(tile, i / columns, i % columns);
    tiles_->setColumnStretch(i % columns, 1);
    tiles_->setRowStretch(i / columns, 1);
    tileOf_[targets[i].name] = tile;
  }
  completed_ = failed_ = stopped_ = 0;
  closeWhenEnded_ = false;
  stop_source_ = std::stop_source();
  station_ = std::make_unique<production::Station>(
      production::StationSetup{
          .ports = targets,
          .platformFor =
              [this](const PortTarget& t) { return t.number ? comPorts_() : production::serialPlatform(t.name); },
          .stop = stop_source_.get_token(),
          .period = milliseconds(s.intervalMs),
          .observer = this},
      image_, facts_, record_.get());
  thread_ = std::make_unique<std::thread>([this] {
    station_->run();
    QMetaObject::invokeMethod(
        this, [this] { ended(); }, Qt::QueuedConnection);
  });
  setup_->setVisible(false);  // the tiles get the room while the line runs
  start_->setEnabled(false);
  stop_->setEnabled(true);
  status_->setStyleSheet({});
  status_->setText(QStringLiteral("Станция работает; отчёт: ") + s.report);
  refresh_.stop();
  since_.start();
  clock_.start(1000);
  showTotals();
  if (!tileOf_.empty()) tileOf_.begin()->second->setFocus();
  if (onStarted) onStarted(s);
  return true;
}

void StationWindow::stop() {
  if (!running()) return;
  stop_source_.request_stop();
  stop_->setEnabled(false);
  status_->setText(QStringLiteral("Остановка…"));
}

void StationWindow::stopAndQuit(int status) {
  quitStatus_ = status;
  if (!running()) return QCoreApplication::exit(status);
  stop();
}

void StationWindow::ended() {
  if (!thread_) return;  // ended already, by stopNow
  thread_->join();
  thread_.reset();
  station_.reset();
  clock_.stop();
  ports_->refresh();
  refresh_.start();
  setup_->setVisible(true);
  fileChanged_->setVisible(false);
  start_->setEnabled(true);
  stop_->setEnabled(false);
  if (record_->lineMissing())
    refuse(QStringLiteral("Станция остановлена; в отчёте не хватает строк: ") + report_->text());
  else
    status_->setText(QStringLiteral("Станция остановлена"));
  record_.reset();
  emit stationEnded();
  if (quitStatus_ >= 0) return QCoreApplication::exit(quitStatus_);
  if (closeWhenEnded_) close();
}

bool StationWindow::programming() const {
  for (const auto& [port, kind] : kindOf_)
    if (kind == production::PortState::Identifying || kind == production::PortState::Programming) return true;
  return false;
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (!running()) return event->accept();
  if (programming()) {
    QMessageBox ask(QMessageBox::Question, windowTitle(),
                    QStringLiteral("Идёт программирование устройств. Остановить передачу и закрыть окно?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    ask.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    ask.setDefaultButton(QMessageBox::No);
    if (ask.exec() != QMessageBox::Yes) return event->ignore();
  }
  if (!running()) return event->accept();  // ended while the question was asked
  closeWhenEnded_ = true;
  stop();
  event->ignore();  // closed once every transfer has ended
}

// On a port's own thread: the window is woken once for whatever has piled up.
void StationWindow::changed(const production::PortState& state) {
  if (changes_.add(state))
    QMetaObject::invokeMethod(
        this, [this] { showChanges(); }, Qt::QueuedConnection);
}

void StationWindow::showChanges() {
  for (const auto& [port, states] : changes_.take())
    for (const production::PortState& state : states) {
      kindOf_[port] = state.kind;
      if (const auto it = tileOf_.find(port); it != tileOf_.end()) it->second->show(state);
    }
}

void StationWindow::finished(const production::JobResult& job, const std::string& recordError) {
  QMetaObject::invokeMethod(
      this,
      [this, job, recordError] {
        // A device without its line in the record is said, and stays said.
        if (!recordError.empty())
          refuse(QStringLiteral("Строка отчёта для %1 не записана: %2").arg(fromUtf8(job.port), fromUtf8(recordError)));
        ++(job.status == production::kCompleted                                                  ? completed_
           : job.status == production::kNotCompleted || job.status == production::kNotIdentified ? failed_
                                                                                                 : stopped_);
        lines_->insertRow(0);
        const double seconds = std::chrono::duration<double>(job.ended - job.started).count();
        // A line the report does not hold is shown, and marked so.
        const QString cells[] = {
            QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(job.ended))
                .toString(QStringLiteral("HH:mm:ss")),
            fromUtf8(job.port),
            ui::qtText(msg::escapeControls(job.device)),
            resultWords(job),
            QStringLiteral("%1 с").arg(seconds, 0, 'f', 1),
            recordError.empty() ? QStringLiteral("записано") : QStringLiteral("НЕ ЗАПИСАНО: ") + fromUtf8(recordError)};
        for (int c = 0; c < 6; ++c) {
          auto* cell = new QTableWidgetItem(cells[c]);
          if (!recordError.empty()) cell->setBackground(QColor(0xf5, 0xb3, 0xb3));
          lines_->setItem(0, c, cell);
        }
        if (lines_->rowCount() > kShownLines) lines_->removeRow(kShownLines);
        showTotals();
      },
      Qt::QueuedConnection);
}

// Whole minutes: a line at rest redraws its totals once a minute, not every second.
void StationWindow::showTotals() {
  const qint64 s = running() ? since_.elapsed() / 60000 * 60 : 0;
  const int devices = completed_ + failed_;
  const QString perHour =
      s >= 60 ? QString::number(devices * 3600.0 / static_cast<double>(s), 'f', 1) : QStringLiteral("—");
  totals_->setText(QStringLiteral("Завершено: %1    С ошибкой: %2    Остановлено: %3    Устройств в час: %4    "
                                  "С начала: %5 ч %6 мин")
                       .arg(completed_)
                       .arg(failed_)
                       .arg(stopped_)
                       .arg(perHour)
                       .arg(s / 3600)
                       .arg(s / 60 % 60, 2, 10, QLatin1Char('0')));
}

}  // namespace isp::station
