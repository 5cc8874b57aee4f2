#include "gui/win32/main_app.h"

// windows.h first: commctrl.h needs its types.
#include <windows.h>

#include <commctrl.h>

#include "gui/win32/main_dialog.h"
#include "programming/trace_file.h"
#include "serial/win32/serial_win32.h"

namespace isp::win32 {

int CMainApp::run() {
  // The progress bar's window class is registered here.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  InitInstance();
  return 0;
}

bool CMainApp::InitInstance() {
  // ISP_TRACE=FILE: every byte on the wire, for whoever must find out why.
  std::string why;
  const std::unique_ptr<Trace> trace = environmentTrace(&why);
  const TraceInstalled traced(trace.get());
  Win32SerialPlatform platform;
  Link link(platform);
  CMainDialog dialog(link);
  dialog.DoModal(nullptr);
  return false;
}

}  // namespace isp::win32

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  isp::win32::CMainApp theApp;
  return theApp.run();
}
