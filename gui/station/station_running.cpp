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
#include "production/station_words.h"
#include "programming/file_access.h"
#include "programming/messages.h"

namespace isp::station {

namespace {

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

void StationWindow::stopNow() {
  if (!run_) return;
  run_->stop();
  run_->finish();
}

bool StationWindow::start() {
  if (running()) return true;
  if (!problems_.empty()) return refuse(ui::qtText(production::words::kFixKept)), false;
  // Read again: what the line programs is the file as it is now.
  if (file_->text().isEmpty())
    image_.reset();
  else
    loadImage(file_->text());
  const StationSettings s = settings();
  // The field names the file a day written now goes into.
  if (!reportFolder_.isEmpty()) report_->setText(fromUtf8(production::dayFileIn(reportFolder_.toStdString())));
  const QString report = report_->text();
  std::vector<production::PortEntry> entries;
  for (const QString& name : s.ports) entries.push_back({name.toStdString(), ports_->whereOf(name).toStdString()});
  std::string why;
  auto run = production::LineRun::start(
      {.ports = entries,
       // A folder: a line running past midnight goes on in the next day's file.
       .report = s.report.toStdString(),
       .reportFolder = s.reportFolder.toStdString(),
       .period = milliseconds(s.intervalMs),
       .platformFor = [this](const PortTarget& t) { return t.number ? comPorts_() : production::serialPlatform(); },
       // Woken once for whatever piled up, however fast the devices go.
       .wake =
           [this] {
             QMetaObject::invokeMethod(
                 this, [this] { showChanges(); }, Qt::QueuedConnection);
           },
       .ended =
           [this] {
             QMetaObject::invokeMethod(
                 this, [this] { ended(); }, Qt::QueuedConnection);
           }},
      image_, &why);
  if (!run) {
    refuse(fromUtf8(why));
    return false;
  }
  for (PortTile* tile : tileOf_) delete tile;
  tileOf_.clear();
  run_ = std::move(run);
  // An even grid: as many columns as rows, or one more.
  const int n = static_cast<int>(entries.size());
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
  for (int c = 0; c < tiles_->columnCount(); ++c) tiles_->setColumnStretch(c, 0);
  for (int r = 0; r < tiles_->rowCount(); ++r) tiles_->setRowStretch(r, 0);
  for (int i = 0; i < n; ++i) {
    auto* tile = new PortTile(run_->view().tiles()[static_cast<std::size_t>(i)]);
    tiles_->addWidget(tile, i / columns, i % columns);
    tiles_->setColumnStretch(i % columns, 1);
    tiles_->setRowStretch(i / columns, 1);
    tileOf_.push_back(tile);
  }
  closeWhenEnded_ = false;
  setup_->setVisible(false);  // the tiles get the room while the line runs
  start_->setEnabled(false);
  stop_->setEnabled(true);
  status_->setStyleSheet({});
  status_->setText(ui::qtText(production::words::kRunning) + report);
  refresh_.stop();
  since_.start();
  clock_.start(1000);
  showTotals();
  if (!tileOf_.empty()) tileOf_.front()->setFocus();
  if (onStarted) onStarted(s);
  return true;
}

void StationWindow::stop() {
  if (!running()) return;
  run_->stop();
  stop_->setEnabled(false);
  status_->setText(ui::qtText(production::words::kStopping));
}

void StationWindow::stopAndQuit(int status) {
  quitStatus_ = status;
  if (!running()) return QCoreApplication::exit(status);
  stop();
}

void StationWindow::ended() {
  if (!running()) return;  // ended already, by stopNow
  const bool whole = run_->finish();
  clock_.stop();
  ports_->refresh();
  refresh_.start();
  setup_->setVisible(true);
  fileChanged_->setVisible(false);
  start_->setEnabled(true);
  stop_->setEnabled(false);
  if (!whole)
    refuse(ui::qtText(production::words::kStoppedLinesMissing) + report_->text());
  else
    status_->setText(ui::qtText(production::words::kStopped));
  emit stationEnded();
  if (quitStatus_ >= 0) return QCoreApplication::exit(quitStatus_);
  if (closeWhenEnded_) close();
}

bool StationWindow::programming() const { return run_ && run_->view().programming(); }

void StationWindow::closeEvent(QCloseEvent* event) {
  if (!running()) return event->accept();
  if (programming()) {
    QMessageBox ask(QMessageBox::Question, windowTitle(), ui::qtText(production::words::kCloseWhileProgramming),
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.button(QMessageBox::Yes)->setText(ui::qtText(production::words::kYes));
    ask.button(QMessageBox::No)->setText(ui::qtText(production::words::kNo));
    ask.setDefaultButton(QMessageBox::No);
    if (ask.exec() != QMessageBox::Yes) return event->ignore();
  }
  if (!running()) return event->accept();  // ended while the question was asked
  closeWhenEnded_ = true;
  stop();
  event->ignore();  // closed once every transfer has ended
}

void StationWindow::showChanges() {
  const production::LineView::Update u = run_->view().update();
  for (std::size_t i : u.tiles) tileOf_[i]->show(run_->view().tiles()[i]);
  // A device without its line in the record is said, and stays said.
  for (const std::string& alarm : u.alarms) refuse(fromUtf8(alarm));
  if (!u.rows) return;
  const auto& rows = run_->view().rows();
  lines_->setRowCount(static_cast<int>(rows.size()));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const production::ReportRow& row = rows[r];
    const std::string* cells[] = {&row.time, &row.port, &row.device, &row.result, &row.seconds, &row.recorded};
    for (int c = 0; c < 6; ++c) {
      auto* cell = new QTableWidgetItem(fromUtf8(*cells[c]));
      if (row.notRecorded) cell->setBackground(QColor(0xf5, 0xb3, 0xb3));
      lines_->setItem(static_cast<int>(r), c, cell);
    }
  }
  showTotals();
}

void StationWindow::showTotals() {
  const auto ms = std::chrono::milliseconds(running() ? since_.elapsed() : 0);
  totals_->setText(fromUtf8(run_ ? run_->view().totals(ms) : production::LineView({}, {}).totals({})));
}

}  // namespace isp::station
