#include "gui/win32/main_dialog.h"

#include <commctrl.h>

#include "gui/win32/about_box.h"
#include "gui/win32/resource.h"
#include "gui/win32_common/file_dialog.h"
#include "programming/about_text.h"
#include "text/utf16.h"

namespace isp::win32 {

namespace {
HICON loadIcon(int size) {
  return static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, size, size, LR_SHARED));
}
}  // namespace

CMainDialog::CMainDialog(Link& link)
    : ModalDialog(IDD_MAIN),
      m_hIcon(loadIcon(GetSystemMetrics(SM_CXICON))),
      m_hIconSmall(loadIcon(GetSystemMetrics(SM_CXSMICON))),
      m_rules(link, *this) {}

INT_PTR CMainDialog::handle(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_SYSCOMMAND: return OnSysCommand(static_cast<UINT>(wParam));
    case WM_COMMAND: return OnCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_TIMER: m_rules.OnTimer(static_cast<int>(wParam)); return TRUE;
    case WM_CLOSE: OnClose(); return TRUE;
    default: return FALSE;
  }
}

BOOL CMainDialog::OnInitDialog() {
  if (HMENU menu = GetSystemMenu(window(), FALSE)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    wchar_t about[64] = L"";
    LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUT_MENU, about, 64);
    AppendMenuW(menu, MF_STRING, IDM_ABOUT, about);
  }
  SendMessageW(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall));
  centre();
  m_rules.OnInitDialog();
  return TRUE;  // the focus goes to the first tab stop, Exit
}

BOOL CMainDialog::OnSysCommand(UINT id) {
  if ((id & 0xFFF0) != IDM_ABOUT) return FALSE;  // Move, Close, ...: the default
  CAboutBox about;
  about.DoModal(window());
  return TRUE;
}

BOOL CMainDialog::OnCommand(int id, int code) {
  switch (id) {
    case IDOK: OnOK(); return TRUE;
    // Escape: the dialog ends, and neither the file nor the port is released.
    case IDCANCEL: EndDialog(window(), IDCANCEL); return TRUE;
    case IDC_FILE:
      if (code == BN_CLICKED) OnFile();
      return TRUE;
    case IDC_TRANSMIT:
      if (code == BN_CLICKED) m_rules.OnTransmit();
      return TRUE;
    case IDC_STOP:
      if (code == BN_CLICKED) m_rules.OnStop();
      return TRUE;
    case IDC_PORT:
      if (code == CBN_SELCHANGE || code == CBN_KILLFOCUS) OnPortChange();
      return TRUE;
    default: return FALSE;
  }
}

void CMainDialog::OnPortChange() {
  m_rules.OnPortChange(static_cast<int>(SendDlgItemMessageW(window(), IDC_PORT, CB_GETCURSEL, 0, 0)));
}

void CMainDialog::OnFile() { m_rules.OnFile(chooseFirmwareFile(window())); }

void CMainDialog::OnOK() {
  m_rules.OnOK();
  EndDialog(window(), IDOK);
}

void CMainDialog::OnClose() {
  m_rules.OnClose();
  EndDialog(window(), IDCANCEL);
}

void CMainDialog::refreshLog(const std::string& text) {
  std::wstring shown = toUtf16(text);
  if (shown == m_shownLog) return;  // unchanged: keep where the user scrolled to
  m_shownLog = std::move(shown);
  SetDlgItemTextW(window(), IDC_LOG, m_shownLog.c_str());
}

void CMainDialog::setProgressRange(int low, int high) {
  SendDlgItemMessageW(window(), IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void CMainDialog::setProgress(int position) {
  SendDlgItemMessageW(window(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

HWND CMainDialog::control(Control c) const {
  switch (c) {
    case Control::File: return item(IDC_FILE);
    case Control::Port: return item(IDC_PORT);
    case Control::Transmit: return item(IDC_TRANSMIT);
    case Control::Stop: return item(IDC_STOP);
  }
  return nullptr;
}

void CMainDialog::enable(Control c, bool enabled) {
  HWND w = control(c);
  // A disabled control that keeps the focus would leave the keyboard dead.
  if (!enabled && GetFocus() == w) SendMessageW(window(), WM_NEXTDLGCTL, 0, FALSE);
  EnableWindow(w, enabled);
}

void CMainDialog::startRecordTimer(int id, int periodMs) {
  SetTimer(window(), static_cast<UINT_PTR>(id), static_cast<UINT>(periodMs), nullptr);
}

void CMainDialog::stopRecordTimer(int id) { KillTimer(window(), static_cast<UINT_PTR>(id)); }

void CMainDialog::setPortList(const std::vector<PortEntry>& entries) {
  SendDlgItemMessageW(window(), IDC_PORT, CB_RESETCONTENT, 0, 0);
  for (const PortEntry& e : entries)
    SendDlgItemMessageW(window(), IDC_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(toUtf16(e.label).c_str()));
}

void CMainDialog::selectPort(int index) {
  SendDlgItemMessageW(window(), IDC_PORT, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

}  // namespace isp::win32
