#include "gui/win32_common/file_dialog.h"

#include <commdlg.h>
#include <shlobj.h>

#include "programming/messages.h"
#include "text/utf16.h"

namespace isp::win32 {

namespace {

// Pairs of label and pattern, each ended by a zero; the string's own
// terminator makes the closing double zero. On Windows "*.*" matches every
// name, with or without a dot.
std::wstring filterOf(const std::string& label, const std::wstring& pattern) {
  std::wstring filter = toUtf16(label);
  filter += L'\0';
  filter += pattern;
  filter += L'\0';
  filter += toUtf16(msg::kFileFilterAll);
  filter += L'\0';
  filter += L"*.*";
  filter += L'\0';
  return filter;
}

std::optional<std::string> chosen(OPENFILENAMEW& ofn, std::wstring& path, bool save) {
  ofn.lStructSize = sizeof ofn;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) return std::nullopt;
  path.resize(path.find(L'\0'));
  return toUtf8(path);
}

}  // namespace

std::optional<std::string> chooseFirmwareFile(HWND owner) {
  const std::wstring filter = filterOf(std::string(msg::kFileFilterIsp), L"*.isp");
  std::wstring path(32768, L'\0');  // room for a long path
  OPENFILENAMEW ofn{};
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  return chosen(ofn, path, false);
}

std::optional<std::string> chooseFileToSave(HWND owner, const std::string& title, const std::string& label,
                                            const std::wstring& pattern) {
  const std::wstring filter = filterOf(label, pattern), caption = toUtf16(title);
  const std::wstring extension = pattern.substr(pattern.find(L'.') + 1);
  std::wstring path(32768, L'\0');
  OPENFILENAMEW ofn{};
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrTitle = caption.c_str();
  ofn.lpstrDefExt = extension.c_str();
  return chosen(ofn, path, true);
}

}  // namespace isp::win32

namespace isp::win32 {

std::optional<std::string> chooseFolder(HWND owner, const std::string& title) {
  const std::wstring caption = toUtf16(title);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = caption.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen) return std::nullopt;
  std::wstring path(32768, L'\0');
  const bool ok = SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
  CoTaskMemFree(chosen);
  if (!ok) return std::nullopt;
  path.resize(path.find(L'\0'));
  return toUtf8(path);
}

}  // namespace isp::win32
