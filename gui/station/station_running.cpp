// The station window while the line runs: the tiles as the ports change,
// the last report lines and the totals, the stop and the close.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

#include "gui/common/qt_text.h"
#include "gui/station/port_tile.h"
#include "gui/station/station_window.h"
#include "production/station_words.h"

namespace isp::station {

namespace w = production::words;

void StationWindow::showRunning(bool running) {
  setup_->setVisible(!running);  // the tiles get the room while the line runs
  start_->setEnabled(!running);
  stop_->setEnabled(running);
  if (!running) return fileChanged_->setVisible(false);
  for (PortTile* tile : tileOf_) delete tile;
  tileOf_.clear();
  lines_->setRowCount(0);
  for (const production::Tile& t : control_->view()->tiles()) tileOf_.push_back(new PortTile(t));
  layoutTiles();
  if (!tileOf_.empty()) tileOf_.front()->setFocus();
}

// The tiles shown, in an even grid.
void StationWindow::layoutTiles() {
  const auto& views = control_->view()->tiles();
  const int columns = production::gridColumns(static_cast<std::size_t>(
      std::count_if(views.begin(), views.end(), [](const production::Tile& t) { return t.shown; })));
  for (int c = 0; c < tiles_->columnCount(); ++c) tiles_->setColumnStretch(c, 0);
  for (int r = 0; r < tiles_->rowCount(); ++r) tiles_->setRowStretch(r, 0);
  int i = 0;
  for (std::size_t t = 0; t < tileOf_.size(); ++t) {
    tiles_->removeWidget(tileOf_[t]);
    tileOf_[t]->setVisible(views[t].shown);
    if (!views[t].shown) continue;
    tiles_->addWidget(tileOf_[t], i / columns, i % columns);
    tiles_->setColumnStretch(i % columns, 1);
    tiles_->setRowStretch(i / columns, 1);
    ++i;
  }
}

void StationWindow::showStopping() { stop_->setEnabled(false); }

void StationWindow::showNews(const production::LineView::Update& news, const production::LineView& view) {
  for (std::size_t i : news.tiles) tileOf_[i]->show(view.tiles()[i]);
  if (news.appeared) layoutTiles();
  if (!news.rows) return;
  const auto& rows = view.rows();
  lines_->setRowCount(static_cast<int>(rows.size()));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const production::ReportRow& row = rows[r];
    const std::string* cells[] = {&row.time, &row.port, &row.device, &row.result, &row.seconds, &row.recorded};
    for (int c = 0; c < 6; ++c) {
      auto* cell = new QTableWidgetItem(QString::fromStdString(*cells[c]));
      if (row.notRecorded) cell->setBackground(QColor(0xf5, 0xb3, 0xb3));
      lines_->setItem(static_cast<int>(r), c, cell);
    }
  }
}

void StationWindow::showTotals(const std::string& words) { totals_->setText(QString::fromStdString(words)); }

void StationWindow::drawIn(milliseconds wait) {
  if (!frame_.isActive()) frame_.start(wait);
}

void StationWindow::wake() {
  QMetaObject::invokeMethod(
      this, [this] { control_->woken(); }, Qt::QueuedConnection);
}

void StationWindow::ended() {
  QMetaObject::invokeMethod(
      this, [this] { control_->ended(); }, Qt::QueuedConnection);
}

void StationWindow::end(int status) {
  closing_ = true;
  close();
  if (status) QCoreApplication::exit(status);
}

// Closing while a device is programmed asks first; then the line stops,
// and the window closes once every transfer has ended.
void StationWindow::closeEvent(QCloseEvent* event) {
  if (closing_ || !running()) return event->accept();
  if (control_->closeNeedsAsking()) {
    QMessageBox ask(QMessageBox::Question, windowTitle(), ui::qtText(w::kCloseWhileProgramming),
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.button(QMessageBox::Yes)->setText(ui::qtText(w::kYes));
    ask.button(QMessageBox::No)->setText(ui::qtText(w::kNo));
    ask.setDefaultButton(QMessageBox::No);
    if (ask.exec() != QMessageBox::Yes) return event->ignore();
  }
  if (!running()) return event->accept();  // ended while the question was asked
  event->ignore();
  control_->close();
}

}  // namespace isp::station
