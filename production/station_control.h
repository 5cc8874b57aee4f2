#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "production/image_file.h"
#include "production/line_file.h"
#include "production/line_run.h"
#include "production/line_setup.h"
#include "production/publisher.h"
#include "production/station_settings.h"
#include "serial/clock.h"

// A station window's rules, the same for every toolkit: the set-up as a
// model (firmware, ports, report, interval, what kept values cannot be
// used), starting and stopping the line, the close question, the end of
// the program, how often the line is drawn. A window only draws what its
// screen is told and passes on what the operator does.
namespace isp::production {

// A row of the set-up's port list, and whether it is ticked.
struct PortRow {
  PortChoice port;
  bool chosen = false;
};

// What a window draws; every call but wake() and ended() comes on the
// window's own thread.
class StationScreen {
 public:
  virtual ~StationScreen() = default;
  virtual void showStatus(const std::string& words, bool alarm) = 0;
  // The firmware field and the file's facts, red when it cannot be programmed.
  virtual void showFirmware(const std::string& path, const std::string& facts, bool alarm) = 0;
  virtual void showReport(const std::string& path) = 0;
  virtual void showKept(const std::string& problems) = 0;  // empty: none
  virtual void showPorts(const std::vector<PortRow>& rows) = 0;
  // The file changed on disk while the line runs; empty: nothing to say.
  virtual void showFileChanged(const std::string& words) = 0;
  // The line started (its tiles are the view's) or ended: the set-up hides
  // while it runs, Start and Stop swap.
  virtual void showRunning(bool running) = 0;
  virtual void showStopping() = 0;  // Stop asked: no second one
  virtual void showNews(const LineView::Update& news, const LineView& view) = 0;
  virtual void showTotals(const std::string& words) = 0;
  // How the publishing of the record stands; empty: no broker.
  virtual void showBroker(const std::string& words, bool alarm) = 0;
  // Call StationControl::draw() after this long.
  virtual void drawIn(milliseconds wait) = 0;
  // The window goes, and the program ends with status.
  virtual void end(int status) = 0;
  // On any thread: call StationControl::woken(), or ended(), on the window's.
  virtual void wake() = 0;
  virtual void ended() = 0;
};

struct StationControlOptions {
  std::string defaultReportFolder{};  // the report's folder when none is kept or given
  // The system's ports; tests give a table of their own, with nodes they plug in.
  std::function<std::unique_ptr<SerialPlatform>()> platform = serialPlatform;
  MonotonicClock* clock = &SteadyClock::instance();
  // Operator mode: the set-up is the line's, shown and never changed here,
  // never kept, and only the firmware the line was set up with is programmed.
  std::optional<LineFile> line{};
};

// News of the line is drawn at most this often: a toolkit that paints only
// when no posted message waits would otherwise never paint 16 busy ports.
inline constexpr milliseconds kFramePeriod{40};
// The port list is looked at again this often while the set-up shows.
inline constexpr milliseconds kPortsPeriod{2000};

// What the set-up says in operator mode: whose it is, and the line file.
std::string operatorModeWords(const LineFile& line);

class StationControl {
 public:
  StationControl(StationScreen& screen, KeptSettings settings, StationControlOptions options);
  ~StationControl();  // stops the line and waits for it
  StationControl(const StationControl&) = delete;
  StationControl& operator=(const StationControl&) = delete;

  // The line file the set-up comes from; nothing in the engineer's mode.
  const LineFile* line() const { return options_.line ? &*options_.line : nullptr; }

  // The operator's changes to the set-up; none in operator mode.
  void chooseFile(const std::string& path);
  void chooseReportFolder(const std::string& folder);
  void typeReport(const std::string& path);  // a file the user names
  // A value equal to the one shown is no change: a field set by the window
  // itself does not clear a kept value's problem.
  void typeInterval(const std::string& text);
  void choosePort(const std::string& name, bool chosen);
  // The broker the record is published to; empty: none.
  void typePublish(const std::string& url);

  // The set-up as it stands, its ports each by name.
  const KeptSettings& settings() const { return settings_; }
  // As it is kept for the next run: "all" while it stands.
  KeptSettings kept() const;
  // Kept only once a start succeeds, and never in operator mode.
  std::function<void(const KeptSettings&)> onStarted;
  // The engineer's mode: the set-up as a line file at path, for operators,
  // with the loaded firmware's SHA-256 and the file's name (without its
  // extension) as the line's name. A report folder becomes one file in it
  // named for the line. False, with the reason shown, when it cannot be.
  bool saveLine(const std::string& path);

  // Starts the line; false, with the reason shown, when it cannot.
  bool start();
  // Ends every transfer as Stop does in the dialog.
  void stop();
  // A stop from outside (a signal, the session's end): Stop, then the
  // program's end with status once every report line is written.
  void stopAndQuit(int status);
  // Closing while a device is programmed needs the operator's yes first.
  bool closeNeedsAsking() const;
  // The window is to close: at once when no line runs, else once it ends.
  void close();
  // Waits until the line has ended, every report line written: for an end
  // no event loop will see.
  void stopNow();

  // On the window's thread after StationScreen::wake(), ended(), drawIn().
  void woken();
  void draw();
  void ended();
  // Every second or so: the totals and the firmware file while the line
  // runs, the port list while the set-up shows.
  void tick();

  bool running() const { return run_ && run_->running(); }
  const LineView* view() const { return run_ ? &run_->view() : nullptr; }

 private:
  bool loadImage(const std::string& path);
  // Why the loaded image is not the line's; nothing when it is, or no line.
  std::string notTheLines() const;
  void corrected(Setting setting);
  void refreshPorts(bool always);
  void showTotals();
  void refuse(const std::string& why) { screen_.showStatus(why, true); }
  // The publisher for the set-up as it stands, started at the first start
  // that publishes and kept while the set-up does not change.
  bool publisherReady();
  void showBroker();

  StationScreen& screen_;
  KeptSettings settings_;
  StationControlOptions options_;
  std::vector<PortRow> rows_;
  std::vector<std::string> paths_;    // device paths: listed from then on, chosen or not
  std::shared_ptr<ImageFile> image_;  // as read at the last choice or start
  std::unique_ptr<LineRun> run_;      // the last line started, its view kept once ended
  std::string report_;                // the running line's file
  bool every_ = false;                // "all" given, and no port chosen or cleared since
  bool fileChangedShown_ = false;
  bool closeWhenEnded_ = false;
  int quitStatus_ = -1;  // the program's end once the line has ended; -1: none asked
  TimePoint since_{}, drawn_{}, portsLooked_{};
  std::unique_ptr<Publisher> publisher_;
  PublishSetup published_{};  // the set-up the publisher was started with
  std::mutex brokerMu_;       // the state, told on the publisher's thread
  std::optional<BrokerState> broker_;
  bool brokerNews_ = false;
};

}  // namespace isp::production
