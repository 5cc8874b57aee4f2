#include "gui/win32/main_app.h"

// windows.h first: commctrl.h needs its types.
#include <windows.h>

#include <commctrl.h>

#include "gui/win32/main_dialog.h"
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
