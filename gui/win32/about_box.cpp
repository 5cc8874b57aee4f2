#include "gui/win32/about_box.h"

#include "gui/win32/resource.h"
#include "programming/about_text.h"
#include "text/utf16.h"

namespace isp::win32 {

CAboutBox::CAboutBox() : ModalDialog(IDD_ABOUT) {}

INT_PTR CAboutBox::handle(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window(), LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

// Built afresh at every opening.
BOOL CAboutBox::OnInitDialog() {
  centre();
  m_strHelp = aboutHelpText();
  SetDlgItemTextW(window(), IDC_HELP_TEXT, toUtf16(m_strHelp).c_str());
  return TRUE;
}

}  // namespace isp::win32
