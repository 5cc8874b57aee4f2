#pragma once
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "production/line_setup.h"

namespace isp::win32 {

// The set-up's ports in a list view with check boxes: every port the
// system has now, looked at without opening any, with its adapter, and
// every port chosen whether or not its adapter is there. Refreshed as
// adapters come and go; what the user chose stays chosen.
class PortList {
 public:
  // list: a report-style list view; given: port names, or "all".
  PortList(HWND list, const std::vector<std::string>& given);
  // The chosen ports in the list's order.
  std::vector<std::string> chosen() const;
  // Where a port is, as the list knows it: its node and its adapter.
  std::string placeOf(const std::string& name) const;
  void refresh();
  // The list view's LVN_ITEMCHANGED: true when the user checked or cleared a box.
  bool changed(const NMLISTVIEW& change);

 private:
  bool checked(int row) const;

  HWND list_;
  std::vector<std::string> chosen_, paths_;
  std::vector<production::PortChoice> rows_;
  bool filling_ = false;
};

}  // namespace isp::win32
