#pragma once
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "production/station_control.h"

namespace isp::win32 {

// The set-up's ports as the station's control lists them, in a list view
// with check boxes. Redrawn only when the list changed; the user's place stays.
class PortList {
 public:
  explicit PortList(HWND list);
  void show(const std::vector<production::PortRow>& rows);
  // The list view's LVN_ITEMCHANGED: the port whose box the user checked
  // or cleared, and whether it is checked now; nothing for any other change.
  std::optional<std::pair<std::string, bool>> changed(const NMLISTVIEW& change) const;
  // Operator mode: the ticks are shown, not changed (LVN_ITEMCHANGING says
  // whether to refuse a change).
  bool fixed = false;
  bool refuses(const NMLISTVIEW& change) const { return fixed && changed(change); }

 private:
  HWND list_;
  std::vector<std::string> names_;
  bool filling_ = false;
};

}  // namespace isp::win32
