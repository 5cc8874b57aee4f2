#pragma once
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "cli/report.h"
#include "cli/station.h"
#include "cli/terminal.h"
#include "programming/firmware_image.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace isp::station {

class PortTile;

// What a station starts with: the line's settings, from the command line or
// from the last run.
struct StationSettings {
  QString file;
  QStringList ports;  // COMn names or device paths
  QString report;
  int intervalMs = 250;
};

// The station window: set-up (firmware, ports, report, interval), then one
// tile per port while the station core programs each device as it comes.
// The core runs on threads of its own; its state changes reach the window
// queued on the window's thread, so the window never waits for a device.
class StationWindow final : public QWidget, private cli::StationObserver {
  Q_OBJECT
 public:
  explicit StationWindow(StationSettings settings, QWidget* parent = nullptr);
  ~StationWindow() override;

  // Starts the station; false, with the reason shown, when it cannot.
  bool start();
  // Ends every transfer as Stop does in the dialog, and the watching.
  void stop();
  bool running() const { return static_cast<bool>(thread_); }
  StationSettings settings() const;
  // Told when a start succeeds, so that the settings can be remembered.
  std::function<void(const StationSettings&)> onStarted;

 signals:
  void stationEnded();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void changed(const cli::PortState& state) override;
  void showChanges();
  void finished(const cli::JobResult& job, const std::string& recordError) override;
  void chooseFile();
  void chooseReport();
  bool loadImage(const QString& path);
  void fillPorts(const QStringList& wanted);
  void showTotals();
  void ended();
  bool programming() const;
  void refuse(const QString& why);

  QLineEdit* file_;
  QLabel* fileFacts_;
  QListWidget* ports_;
  QLineEdit* report_;
  QSpinBox* interval_;
  QPushButton* start_;
  QPushButton* stop_;
  QLabel* status_;
  QLabel* totals_;
  QWidget* setup_;
  QGridLayout* tiles_;
  QTableWidget* lines_;
  std::map<std::string, PortTile*> tileOf_;
  std::map<std::string, cli::PortState::Kind> kindOf_;
  // Changes told on the ports' threads and not yet shown; one posted event
  // at a time shows them all.
  std::mutex changesMu_;
  std::map<std::string, std::vector<cli::PortState>> changes_;
  bool changesPosted_ = false;

  FirmwareImage image_;
  cli::ImageFacts facts_;
  bool imageOk_ = false;
  cli::Options options_;
  cli::Terminal terminal_{false};
  std::unique_ptr<cli::ProductionRecord> record_;
  std::unique_ptr<cli::Station> station_;
  std::stop_source stop_source_;
  std::unique_ptr<std::thread> thread_;
  bool closeWhenEnded_ = false;
  int completed_ = 0, failed_ = 0;
  QElapsedTimer since_;
  QTimer clock_;
};

// Where the report goes unless told otherwise: one file a day under the
// user's data folder.
QString defaultReport();

}  // namespace isp::station
