#include "gui/win32/modal_dialog.h"

#include <algorithm>

namespace isp::win32 {

INT_PTR ModalDialog::DoModal(HWND owner) {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), owner, procedure,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK ModalDialog::procedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<ModalDialog*>(lParam);
    SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    self->m_hWnd = hWnd;
  }
  // WM_SETFONT comes before WM_INITDIALOG, when there is no object yet.
  if (!self) return FALSE;
  const INT_PTR result = self->handle(message, wParam, lParam);
  if (message == WM_NCDESTROY) self->m_hWnd = nullptr;
  return result;
}

void ModalDialog::centre() {
  RECT own{};
  GetWindowRect(m_hWnd, &own);
  const int w = own.right - own.left;
  const int h = own.bottom - own.top;

  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT area = monitor.rcWork;

  RECT over = area;
  if (HWND owner = GetWindow(m_hWnd, GW_OWNER); owner && IsWindowVisible(owner) && !IsIconic(owner))
    GetWindowRect(owner, &over);
  int x = over.left + (over.right - over.left - w) / 2;
  int y = over.top + (over.bottom - over.top - h) / 2;
  x = std::max(static_cast<int>(area.left), std::min(x, static_cast<int>(area.right) - w));
  y = std::max(static_cast<int>(area.top), std::min(y, static_cast<int>(area.bottom) - h));
  SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace isp::win32
