#include "gui/win32_station/port_list.h"

#include "text/utf16.h"

namespace isp::win32 {

PortList::PortList(HWND list) : list_(list) {
  ListView_SetExtendedListViewStyle(list_, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 400;
  ListView_InsertColumn(list_, 0, &column);
}

void PortList::show(const std::vector<production::PortRow>& rows) {
  filling_ = true;
  const int current = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
  SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list_);
  names_.clear();
  for (const production::PortRow& row : rows) {
    const int i = static_cast<int>(names_.size());
    const std::string& where = row.port.where;
    std::wstring label = toUtf16(where.empty() ? row.port.name : row.port.name + "   " + where);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = i;
    item.pszText = label.data();
    ListView_InsertItem(list_, &item);
    ListView_SetCheckState(list_, i, row.chosen);
    names_.push_back(row.port.name);
  }
  ListView_SetColumnWidth(list_, 0, LVSCW_AUTOSIZE);  // a scroll bar only for what does not fit
  if (current >= 0 && current < ListView_GetItemCount(list_))
    ListView_SetItemState(list_, current, LVIS_FOCUSED, LVIS_FOCUSED);
  SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  filling_ = false;
}

std::optional<std::pair<std::string, bool>> PortList::changed(const NMLISTVIEW& change) const {
  if (filling_ || !(change.uChanged & LVIF_STATE) || change.iItem < 0 ||
      change.iItem >= static_cast<int>(names_.size()) ||
      ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) == 0)
    return std::nullopt;
  return std::pair{names_[static_cast<std::size_t>(change.iItem)], ListView_GetCheckState(list_, change.iItem) != 0};
}

}  // namespace isp::win32
