#include "gui/win32_station/port_list.h"

#include <algorithm>

#include "production/os.h"
#include "text/utf16.h"

namespace isp::win32 {

PortList::PortList(HWND list, const std::vector<std::string>& given) : list_(list) {
  chosen_ = production::chosenPorts(given, *production::serialPlatform());
  paths_ = production::devicePaths(chosen_);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 400;
  ListView_InsertColumn(list_, 0, &column);
  refresh();
}

bool PortList::checked(int row) const { return ListView_GetCheckState(list_, row) != 0; }

void PortList::refresh() {
  std::vector<production::PortChoice> rows = production::portChoices(*production::serialPlatform(), chosen_, paths_);
  const bool same = std::equal(rows.begin(), rows.end(), rows_.begin(), rows_.end(),
                               [](const auto& a, const auto& b) { return a.name == b.name && a.where == b.where; });
  if (same) return;  // left as it is: the user's place in the list stays
  rows_ = std::move(rows);
  filling_ = true;
  const int current = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
  SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list_);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const auto& row = rows_[i];
    std::wstring label = toUtf16(row.where.empty() ? row.name : row.name + "   " + row.where);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = label.data();
    ListView_InsertItem(list_, &item);
    ListView_SetCheckState(list_, static_cast<int>(i),
                           std::find(chosen_.begin(), chosen_.end(), row.name) != chosen_.end());
  }
  ListView_SetColumnWidth(list_, 0, LVSCW_AUTOSIZE);  // a scroll bar only for what does not fit
  if (current >= 0 && current < ListView_GetItemCount(list_))
    ListView_SetItemState(list_, current, LVIS_FOCUSED, LVIS_FOCUSED);
  SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  filling_ = false;
}

bool PortList::changed(const NMLISTVIEW& change) {
  if (filling_ || !(change.uChanged & LVIF_STATE) || change.iItem < 0 ||
      change.iItem >= static_cast<int>(rows_.size()) ||
      ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) == 0)
    return false;
  const std::string& name = rows_[static_cast<std::size_t>(change.iItem)].name;
  chosen_.erase(std::remove(chosen_.begin(), chosen_.end(), name), chosen_.end());
  if (checked(change.iItem)) chosen_.push_back(name);
  return true;
}

std::vector<std::string> PortList::chosen() const {
  std::vector<std::string> names;
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
    if (checked(i)) names.push_back(rows_[static_cast<std::size_t>(i)].name);
  return names;
}

std::string PortList::placeOf(const std::string& name) const {
  for (const auto& row : rows_)
    if (row.name == name) return row.place;
  return {};
}

}  // namespace isp::win32
