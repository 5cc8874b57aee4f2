#pragma once
#include <string>

#include "gui/win32/modal_dialog.h"

namespace isp::win32 {

// "О программе": title, version and the wiring and preparation help.
class CAboutBox final : public ModalDialog {
 public:
  CAboutBox();

 private:
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog();

  std::string m_strHelp;
};

}  // namespace isp::win32
