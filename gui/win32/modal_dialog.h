#pragma once
#include <windows.h>

namespace isp::win32 {

// A modal dialog run from a template in the program's resources. The
// dialog procedure finds the object through the window's DWLP_USER slot.
class ModalDialog {
 public:
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  // Runs the dialog until it ends; returns its end code (-1 when the window
  // could not be made).
  INT_PTR DoModal(HWND owner);
  HWND window() const { return m_hWnd; }

 protected:
  explicit ModalDialog(int templateId) : m_templateId(templateId) {}
  virtual ~ModalDialog() = default;

  // DialogProc's contract: TRUE when the message was handled.
  virtual INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  HWND item(int id) const { return GetDlgItem(m_hWnd, id); }
  // The template has no DS_CENTER: centre over the owner, or on the work
  // area of the window's monitor when it has none, and keep it on screen.
  void centre();

 private:
  static INT_PTR CALLBACK procedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  int m_templateId;
  HWND m_hWnd = nullptr;
};

}  // namespace isp::win32
