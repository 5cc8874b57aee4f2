#pragma once
#include <string>

#include "gui/win32/modal_dialog.h"
#include "link/link.h"
#include "programming/dialog_rules.h"
#include "programming/transfer_view.h"

namespace isp::win32 {

// "Программирование": the main window. It shows what the main window's rules
// tell it and passes every user action to them; the rules live there.
class CMainDialog final : public ModalDialog, public TransferView {
 public:
  explicit CMainDialog(Link& link);

  // TransferView
  void refreshLog(const std::string& text) override;
  void setProgressRange(int low, int high) override;
  void setProgress(int position) override;
  void enable(Control control, bool enabled) override;
  void startRecordTimer(int id, int periodMs) override;
  void stopRecordTimer(int id) override;
  void setPortList(const std::vector<PortEntry>& entries) override;
  void selectPort(int index) override;

 private:
  // The message map.
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog();
  BOOL OnSysCommand(UINT id);
  BOOL OnCommand(int id, int code);
  void OnPortChange();
  void OnFile();
  void OnOK();
  void OnClose();

  HWND control(Control c) const;

  HICON m_hIcon = nullptr;       // shared: the system frees it
  HICON m_hIconSmall = nullptr;  // the 16-pixel image, for the caption
  std::wstring m_shownLog;       // what the log control holds
  MainDialogRules m_rules;
};

}  // namespace isp::win32
