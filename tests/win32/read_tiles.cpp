// Reads the station window's tiles as a screen reader finds them, from
// their controls (never from pixels): one line per tile, in UTF-8, its
// window text (the port) and its parts' texts, separated by tabs; then the
// totals. A text its control cannot hold whole, wrapped as a static
// control wraps it, is followed by " CLIPPED".
//
//   read_tiles.exe TITLE [--close | --setup]
//
// --close  then asks the window to close, as its close box does.
// --setup  then the set-up's fields and buttons: "edit", "read-only" or
//          "editable" and the text; "button" and its label.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "gui/win32_station/resource.h"
#include "text/utf16.h"

namespace {

std::wstring textOf(HWND w) {
  std::wstring t(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
  t.resize(static_cast<std::size_t>(GetWindowTextW(w, t.data(), static_cast<int>(t.size()))));
  return t;
}

// A font handle belongs to the process that made it: the window's fonts
// are made again here as it makes them, from the system's message font.
HFONT fontOf(double times, bool bold) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW f = metrics.lfMessageFont;
  f.lfHeight = static_cast<LONG>(std::lround(f.lfHeight * times));
  if (bold) f.lfWeight = FW_BOLD;
  return CreateFontIndirectW(&f);
}
const HFONT kText = fontOf(1, false), kState = fontOf(1.45, true), kName = fontOf(1.9, true);

// The text, and whether the control shows it whole in `font`.
std::wstring seen(HWND w, HFONT font) {
  const std::wstring text = textOf(w);
  RECT room{}, need{};
  GetClientRect(w, &room);
  need.right = room.right;
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, font);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  const bool whole = text.empty() || (need.right <= room.right && need.bottom <= room.bottom);
  return whole ? text : text + L" CLIPPED";
}

// A tile's parts in the order it makes them: its name, where it is, the
// state, then the smaller words.
struct Parts {
  std::wstring line;
  int index = 0;
};

BOOL CALLBACK onPart(HWND part, LPARAM to) {
  auto& parts = *reinterpret_cast<Parts*>(to);
  wchar_t cls[64] = L"";
  GetClassNameW(part, cls, 64);
  if (std::wstring(cls) != L"Static") return TRUE;
  const int i = parts.index++;
  parts.line += L"\t" + seen(part, i == 0 ? kName : i == 2 ? kState : kText);
  return TRUE;
}

BOOL CALLBACK onChild(HWND child, LPARAM) {
  wchar_t cls[64] = L"";
  GetClassNameW(child, cls, 64);
  if (std::wstring(cls) != L"IspStationPortTile") return TRUE;
  Parts parts{textOf(child)};
  EnumChildWindows(child, onPart, reinterpret_cast<LPARAM>(&parts));
  std::printf("%s\n", isp::toUtf8(parts.line).c_str());
  return TRUE;
}

// The window's own fields and buttons, not the tiles' parts.
BOOL CALLBACK onSetup(HWND child, LPARAM window) {
  if (GetParent(child) != reinterpret_cast<HWND>(window)) return TRUE;
  wchar_t cls[64] = L"";
  GetClassNameW(child, cls, 64);
  const std::string text = isp::toUtf8(textOf(child));
  if (std::wstring(cls) == L"Edit")
    std::printf("edit\t%s\t%s\n", GetWindowLongW(child, GWL_STYLE) & ES_READONLY ? "read-only" : "editable",
                text.c_str());
  if (std::wstring(cls) == L"Button") std::printf("button\t%s\n", text.c_str());
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
  std::printf("totals\t%s\n", isp::toUtf8(seen(GetDlgItem(window, IDC_TOTALS), kName)).c_str());
  if (argc > 2 && std::wstring(argv[2]) == L"--close") PostMessageW(window, WM_CLOSE, 0, 0);
  if (argc > 2 && std::wstring(argv[2]) == L"--setup")
    EnumChildWindows(window, onSetup, reinterpret_cast<LPARAM>(window));
  return 0;
}
