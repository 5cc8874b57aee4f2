#pragma once
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "production/station_control.h"

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace isp::station {

class PortList;
class PortTile;

// The station window: set-up (firmware, ports, report, interval), then one
// tile per port while the station programs each device as it comes. Every
// decision is the station control's; the window draws what it is told.
// The line runs on threads of its own; its news reaches the window queued
// on the window's thread, so that the window never waits for a device.
class StationWindow final : public QWidget, private production::StationScreen {
  Q_OBJECT
 public:
  // options.defaultReportFolder empty: the user's data folder's.
  explicit StationWindow(production::KeptSettings settings, production::StationControlOptions options = {},
                         QWidget* parent = nullptr);
  ~StationWindow() override;

  production::StationControl& control() { return *control_; }
  // Words for the operator in the status line, as a refusal is said.
  void say(const QString& words) { showStatus(words.toStdString(), true); }
  bool start() { return control_->start(); }
  void stop() { control_->stop(); }
  bool running() const { return control_->running(); }
  // The window's place kept from the last run (QWidget::saveGeometry), or
  // when there is none (or it is no use), the screen's free area: the size
  // at which a line's tiles fit.
  void placeOnScreen(const QByteArray& kept);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void showStatus(const std::string& words, bool alarm) override;
  void showFirmware(const std::string& path, const std::string& facts, bool alarm) override;
  void showReport(const std::string& path) override;
  void showKept(const std::string& problems) override;
  void showPorts(const std::vector<production::PortRow>& rows) override;
  void showFileChanged(const std::string& words) override;
  void showRunning(bool running) override;
  void showStopping() override;
  void showNews(const production::LineView::Update& news, const production::LineView& view) override;
  void showTotals(const std::string& words) override;
  void showBroker(const std::string& words, bool alarm) override;
  void drawIn(milliseconds wait) override;
  void end(int status) override;
  void wake() override;
  void ended() override;
  void layoutTiles();
  void chooseFile();
  void chooseReport();
  void saveLine();

  QLineEdit* file_;
  QLabel* fileFacts_;
  PortList* ports_;
  QLineEdit* report_;
  QSpinBox* interval_;
  QLineEdit* broker_;    // the broker's URL
  QLabel* brokerState_;  // how the publishing stands
  QPushButton* start_;
  QPushButton* stop_;
  QLabel* status_;
  QLabel* kept_;         // what the kept settings hold that cannot be used
  QLabel* fileChanged_;  // the firmware file changed on disk while the line runs
  QLabel* totals_;
  QWidget* setup_;
  QGridLayout* tiles_;
  QTableWidget* lines_;
  std::vector<PortTile*> tileOf_;
  QTimer clock_;                                         // the totals, the firmware file, the port list
  QTimer frame_;                                         // news held back until the next frame
  bool closing_ = false;                                 // the window closes once the line has ended
  std::unique_ptr<production::StationControl> control_;  // last: told to draw by the controls above
};

// Where the report goes unless told otherwise: one file a day in this
// folder under the user's data folder.
QString defaultReportFolder();

}  // namespace isp::station
