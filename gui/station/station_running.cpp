// The station window while the line runs: the start, the tiles as the
// ports change, the last report lines and the totals, the stop.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <cmath>

#include "gui/common/qt_text.h"
#include "gui/station/port_list.h"
#include "gui/station/port_tile.h"
#include "gui/station/station_window.h"
#include "programming/file_access.h"
#include "programming/messages.h"

namespace isp::station {

namespace {

constexpr int kShownLines = 200;

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

// "завершено", "Ошибка 256, блок 100", ...: a finished device in a word.
QString resultWords(const production::JobResult& job) {
  switch (job.result) {
    case Outcome::Completed: return QStringLiteral("завершено");
    case Outcome::NotCompleted: return ui::qtText(msg::recordError(job.code, job.failedRecord));
    case Outcome::NotIdentified: return QStringLiteral("не опознано");
    default: return QStringLiteral("остановлено");
  }
}

}  // namespace

void StationWindow::stopNow() {
  if (!thread_) return;
  stop_source_.request_stop();
  thread_->join();
  thread_.reset();
  station_.reset();
  record_.reset();
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
        ++(job.result == Outcome::Completed                                              ? completed_
           : job.result == Outcome::NotCompleted || job.result == Outcome::NotIdentified ? failed_
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
