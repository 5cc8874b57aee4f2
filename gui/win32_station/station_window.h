#pragma once
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "gui/win32_station/port_list.h"
#include "gui/win32_station/port_tile.h"
#include "gui/win32_station/station_settings.h"
#include "production/image_file.h"
#include "production/line_run.h"

namespace isp::win32 {

// Messages the window posts itself from other threads: it never waits for them.
inline constexpr UINT kViewChanged = WM_APP + 1;  // the view of the line has news
inline constexpr UINT kLineEnded = WM_APP + 2;    // the station's run has returned
inline constexpr UINT kStopAsked = WM_APP + 3;    // a stop from outside: wParam the exit status

// The window's timers.
inline constexpr UINT_PTR kClock = 1;    // the totals and the firmware file, every second
inline constexpr UINT_PTR kRefresh = 2;  // the port list, while the set-up shows
inline constexpr UINT_PTR kFrame = 3;    // news of the line held back until the next frame
// News of the line is drawn at most this often. Windows makes paint and
// timer messages only when no posted message waits: news taken as fast as
// 16 ports bring it would keep the tiles from ever being painted.
inline constexpr std::chrono::milliseconds kFramePeriod{40};
// Between the window's edge and its controls, in pixels.
inline constexpr int kMargin = 10;

// The station window: set-up (firmware, ports, report, interval), then one
// tile per port while the station programs each device as it comes. The
// station runs on threads of its own and reaches the window only through
// posted messages; the window never waits for a device.
class StationWindow {
 public:
  static constexpr const wchar_t* kClass = L"IspStationWindow";
  explicit StationWindow(const StationSettings& settings);
  ~StationWindow();
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  HWND window() const { return hwnd_; }
  // Shows the window where it was when it last closed, held within the
  // screen as it is now; the first time, over the screen's free area, where
  // a line's tiles fit. show: as the program was asked to show it.
  void showPlaced(int show);
  // Starts the station; false, with the reason shown, when it cannot.
  bool start();
  void stop();
  // Waits until the line has ended, every report line written: for an end
  // no message loop will see (the session's end).
  void stopNow();
  bool running() const { return run_ && run_->running(); }
  // The program's end status once the window is gone.
  int exitStatus() const { return quitStatus_ < 0 ? 0 : quitStatus_; }

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void create(const StationSettings& settings);
  HWND control(const wchar_t* cls, const std::string& text, DWORD style, int id, HFONT font = nullptr);
  void layout();
  int layoutSetup(int y, int width);
  void layoutTiles(const RECT& area);
  void command(int id, int code);
  void close();
  void stopAndQuit(int status);

  bool loadImage(const std::string& path);
  void checkFile();
  void viewChanged();
  void showChanges();
  void showRows();
  void showTotals();
  void ended();
  void refuse(const std::string& why);
  void say(const std::string& words, bool alarm);
  void corrected(production::Setting setting);
  void showKept();
  StationSettings settings() const;
  std::string text(int id) const;

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr, big_ = nullptr, bigger_ = nullptr;
  std::vector<HWND> setup_;  // hidden while the line runs: the tiles get the room
  std::unique_ptr<PortList> ports_;
  std::string reportFolder_;  // the report is a file per day in it; empty once the user names a file
  production::SettingProblems problems_;
  bool alarm_ = false, factsAlarm_ = false;
  std::vector<std::unique_ptr<PortTile>> tiles_;

  std::shared_ptr<production::ImageFile> image_;  // as read at the last choice or start
  std::unique_ptr<production::LineRun> run_;      // the last line started, its view kept once ended
  std::string report_;                            // the running line's
  bool closeWhenEnded_ = false;
  int quitStatus_ = -1;  // the program's end once the line has ended; -1: none asked
  std::chrono::steady_clock::time_point since_{};
  std::chrono::steady_clock::time_point shown_{};  // the last news drawn
  int totalsHeight_ = 0;                           // as laid out: as many lines as the width needs
};

}  // namespace isp::win32
