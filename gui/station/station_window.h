#pragma once
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>

#include "production/image_file.h"
#include "production/line_run.h"
#include "production/os.h"
#include "production/record.h"
#include "production/station.h"
#include "production/station_settings.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace isp::station {

class PortList;
class PortTile;

// What a station starts with: the line's settings, from the command line or
// from the last run.
struct StationSettings {
  QString file{};
  QStringList ports{};  // COMn names or device paths
  QString report{};     // the one report file; empty: a file per day in reportFolder
  int intervalMs = production::kDefaultIntervalMs;
  // COM1 to COM20; tests give a table of their own, with nodes they plug in.
  std::function<std::unique_ptr<SerialPlatform>()> comPorts = [] { return production::serialPlatform(); };
  QString reportFolder{};  // empty with no report: the default folder
  // Kept values that cannot be used: shown, and no start until corrected.
  production::SettingProblems problems = {};
};

// The station window: set-up (firmware, ports, report, interval), then one
// tile per port while the station core programs each device as it comes.
// The core runs on threads of its own; its state changes reach the window
// queued on the window's thread, so the window never waits for a device.
class StationWindow final : public QWidget {
  Q_OBJECT
 public:
  explicit StationWindow(StationSettings settings, QWidget* parent = nullptr);
  ~StationWindow() override;

  // Words for the operator in the status line, as a refusal is said.
  void say(const QString& words) { refuse(words); }
  // Starts the station; false, with the reason shown, when it cannot.
  bool start();
  // Ends every transfer as Stop does in the dialog, and the watching.
  void stop();
  // A stop from outside (a signal, the session's end): Stop, then the
  // program's end with `status` once every report line is written.
  void stopAndQuit(int status);
  // Waits until the line has ended, every report line written: for an end
  // of the program that no event loop will see (the display gone).
  void stopNow();
  bool running() const { return run_ && run_->running(); }
  // The window's place kept from the last run (QWidget::saveGeometry), or
  // when there is none (or it is no use), the screen's free area: the size
  // at which a line's tiles fit.
  void placeOnScreen(const QByteArray& kept);
  // What the user chose: the ports checked, present or not.
  StationSettings settings() const;
  // Told when a start succeeds, so that the settings can be remembered.
  std::function<void(const StationSettings&)> onStarted;

 signals:
  void stationEnded();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void showChanges();
  void checkFile();
  void chooseFile();
  void chooseReport();
  bool loadImage(const QString& path);
  void showTotals();
  void ended();
  bool programming() const;
  void refuse(const QString& why);
  void corrected(production::Setting setting);
  void showKept();

  QLineEdit* file_;
  QLabel* fileFacts_;
  PortList* ports_;
  QLineEdit* report_;
  QString reportFolder_;  // the report is a file per day in it; empty once the user names a file
  QSpinBox* interval_;
  QPushButton* start_;
  QPushButton* stop_;
  QLabel* status_;
  QLabel* kept_;  // what the kept settings hold that cannot be used
  production::SettingProblems problems_;
  QLabel* fileChanged_;  // the firmware file changed on disk while the line runs
  QLabel* totals_;
  QWidget* setup_;
  QGridLayout* tiles_;
  QTableWidget* lines_;
  std::vector<PortTile*> tileOf_;

  std::function<std::unique_ptr<SerialPlatform>()> comPorts_;
  std::shared_ptr<production::ImageFile> image_;  // as read at the last choice or start
  std::unique_ptr<production::LineRun> run_;      // the last line started, its view kept once ended
  bool closeWhenEnded_ = false;
  int quitStatus_ = -1;  // the program's end once the line has ended; -1: none asked
  QElapsedTimer since_;
  QTimer clock_;
  QTimer refresh_;  // the port list, while the set-up shows
};

// Where the report goes unless told otherwise: one file a day in this
// folder under the user's data folder.
QString defaultReportFolder();

}  // namespace isp::station
