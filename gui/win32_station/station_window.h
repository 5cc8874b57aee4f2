#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/win32_station/port_list.h"
#include "gui/win32_station/port_tile.h"
#include "production/station_control.h"

namespace isp::win32 {

// Messages the window posts itself from other threads: it never waits for them.
inline constexpr UINT kViewChanged = WM_APP + 1;  // the view of the line has news
inline constexpr UINT kLineEnded = WM_APP + 2;    // the station's run has returned
inline constexpr UINT kStopAsked = WM_APP + 3;    // a stop from outside: wParam the exit status

// The window's timers.
inline constexpr UINT_PTR kClock = 1;  // the totals, the firmware file, the port list
inline constexpr UINT_PTR kFrame = 3;  // news of the line held back until the next frame
// Between the window's edge and its controls, in pixels.
inline constexpr int kMargin = 10;

// The station window: set-up (firmware, ports, report, interval), then one
// tile per port while the station programs each device as it comes. Every
// decision is the station control's; the window draws what it is told.
// The line runs on threads of its own and reaches the window only through
// posted messages; the window never waits for a device.
class StationWindow final : private production::StationScreen {
 public:
  static constexpr const wchar_t* kClass = L"IspStationWindow";
  // line: operator mode, the set-up the line file's, shown and not changed.
  explicit StationWindow(production::KeptSettings settings, std::optional<production::LineFile> line = {});
  ~StationWindow() override;
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  HWND window() const { return hwnd_; }
  production::StationControl& control() { return *control_; }
  // Shows the window where it was when it last closed, held within the
  // screen as it is now; the first time, over the screen's free area, where
  // a line's tiles fit. show: as the program was asked to show it.
  void showPlaced(int show);
  // The program's end status once the window is gone.
  int exitStatus() const { return exitStatus_; }

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void create();
  void operatorMode(const production::LineFile& line);
  HWND control(const wchar_t* cls, const std::string& text, DWORD style, int id, HFONT font = nullptr);
  void layout();
  int layoutSetup(int y, int width);
  void layoutTiles(const RECT& area);
  void command(int id, int code);
  void close();

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
  void showRows(const production::LineView& view);
  std::string text(int id) const;
  bool running() const { return control_ && control_->running(); }

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr, big_ = nullptr, bigger_ = nullptr;
  std::vector<HWND> setup_;  // hidden while the line runs: the tiles get the room
  std::unique_ptr<PortList> ports_;
  bool alarm_ = false, factsAlarm_ = false, kept_ = false, brokerAlarm_ = false;
  std::vector<std::unique_ptr<PortTile>> tiles_;
  int totalsHeight_ = 0;  // as laid out: as many lines as the width needs
  int exitStatus_ = 0;
  std::unique_ptr<production::StationControl> control_;
};

}  // namespace isp::win32
