#include "gui/win32/file_dialog.h"

#include <commdlg.h>

#include "programming/messages.h"
#include "text/utf16.h"

namespace isp::win32 {

std::optional<std::string> chooseFirmwareFile(HWND owner) {
  // Pairs of label and pattern, each ended by a zero; the string's own
  // terminator makes the closing double zero. On Windows "*.*" matches
  // every name, with or without a dot.
  std::wstring filter = toUtf16(msg::kFileFilterIsp);
  filter += L'\0';
  filter += L"*.isp";
  filter += L'\0';
  filter += toUtf16(msg::kFileFilterAll);
  filter += L'\0';
  filter += L"*.*";
  filter += L'\0';

  std::wstring path(32768, L'\0');  // room for a long path
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  path.resize(path.find(L'\0'));
  return toUtf8(path);
}

}  // namespace isp::win32
