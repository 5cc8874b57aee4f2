// Reads the station window's tiles as a screen reader finds them, from
// their controls (never from pixels): one line per tile, in UTF-8, its
// window text (the port) and its parts' texts, separated by tabs.
//
//   read_tiles.exe TITLE [--close]
//
// --close  then asks the window to close, as its close box does.
#include <windows.h>

#include <cstdio>
#include <string>

#include "text/utf16.h"

namespace {

std::wstring textOf(HWND w) {
  std::wstring t(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
  t.resize(static_cast<std::size_t>(GetWindowTextW(w, t.data(), static_cast<int>(t.size()))));
  return t;
}

BOOL CALLBACK onPart(HWND part, LPARAM line) {
  wchar_t cls[64] = L"";
  GetClassNameW(part, cls, 64);
  if (std::wstring(cls) == L"Static") *reinterpret_cast<std::wstring*>(line) += L"\t" + textOf(part);
  return TRUE;
}

BOOL CALLBACK onChild(HWND child, LPARAM) {
  wchar_t cls[64] = L"";
  GetClassNameW(child, cls, 64);
  if (std::wstring(cls) != L"IspStationPortTile") return TRUE;
  std::wstring line = textOf(child);
  EnumChildWindows(child, onPart, reinterpret_cast<LPARAM>(&line));
  std::printf("%s\n", isp::toUtf8(line).c_str());
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HWND window = FindWindowW(L"IspStationWindow", argv[1]);
  if (!window) {
    std::fprintf(stderr, "no window\n");
    return 1;
  }
  EnumChildWindows(window, onChild, 0);
  if (argc > 2 && std::wstring(argv[2]) == L"--close") PostMessageW(window, WM_CLOSE, 0, 0);
  return 0;
}
