// isp-station.exe: a production line's window on the station, native Win32.
// The line's settings come from the command line, else from the last run,
// or in operator mode from the engineer's line file alone; --start begins
// at once, so that a station can start with them when it boots.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "gui/win32_station/resource.h"
#include "gui/win32_station/station_settings.h"
#include "gui/win32_station/station_window.h"
#include "production/os.h"
#include "production/station_command_line.h"
#include "production/station_words.h"
#include "production/stop_signal.h"
#include "programming/trace_file.h"
#include "text/utf16.h"

namespace {

// Help, the version or a wrong command line: to standard error when the
// program was started with one (a script, a shell), else in a message box.
void tell(const std::string& words, bool error) {
  HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (out && out != INVALID_HANDLE_VALUE &&
      WriteFile(out, words.data(), static_cast<DWORD>(words.size()), &written, nullptr))
    return;
  MessageBoxW(nullptr, isp::toUtf16(words).c_str(), isp::toUtf16(isp::production::words::kTitle).c_str(),
              error ? MB_ICONERROR : MB_ICONINFORMATION);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  // Before any thread starts: a console's close or the user's log-off is a Stop.
  const std::stop_token outside = isp::production::installStopHandlers();
  // Operator mode keeps nothing of the set-up and reads nothing kept: it is the line file's.
  const std::vector<std::string> args = isp::production::commandLine(0, nullptr);
  isp::production::KeptSettings settings;
  isp::production::StationCommandLine line = isp::production::readStationCommandLine(args, settings);
  if (!line.exit && !line.line) {
    settings = isp::win32::rememberedSettings();
    line = isp::production::readStationCommandLine(args, settings);
  }
  if (line.exit) {
    tell(line.message, *line.exit != 0);
    return *line.exit;
  }
  // The list views, the up-down control, the progress bars; COM for the
  // tiles' accessible descriptions and the folder chooser.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  // ISP_TRACE=FILE: every byte on the wire, for whoever must find out why.
  std::string traceWhy;
  const std::unique_ptr<isp::Trace> trace = isp::environmentTrace(&traceWhy);
  if (!traceWhy.empty()) tell("isp-station: " + traceWhy + "\n", true);
  const isp::TraceInstalled traced(trace.get());
  {
    isp::win32::StationWindow window(std::move(settings), std::move(line.line));
    HWND hwnd = window.window();
    const std::stop_callback onStop(
        outside, [hwnd] { PostMessageW(hwnd, isp::win32::kStopAsked, isp::production::signalExitStatus(), 0); });
    window.showPlaced(show);
    if (line.start) PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_START, 1), 0);
    HACCEL keys = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_KEYS));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      // F5 and Shift+F5 anywhere in the window; Tab and Shift+Tab from control to control.
      if (TranslateAcceleratorW(hwnd, keys, &msg) || IsDialogMessageW(hwnd, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    status = static_cast<int>(msg.wParam);
  }
  CoUninitialize();
  // A stop from outside names the end, even one that came while the window closed.
  return isp::production::signalExitStatus() ? isp::production::signalExitStatus() : status;
}
