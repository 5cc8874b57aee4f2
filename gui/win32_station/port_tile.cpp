#include "gui/win32_station/port_tile.h"

#include <commctrl.h>
#include <initguid.h>
#include <oleacc.h>

#include <algorithm>

#include "link/protocol.h"
#include "text/utf16.h"

namespace isp::win32 {

namespace {

COLORREF colourRef(std::uint32_t rgb) { return RGB(rgb >> 16 & 0xff, rgb >> 8 & 0xff, rgb & 0xff); }

}  // namespace

int fontHeight(HWND w, HFONT font) {
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW m{};
  GetTextMetricsW(dc, &m);
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  return m.tmHeight;
}

namespace {

// What `text` takes in font: wrapped at `width` as a static control wraps
// it (SS_LEFT), or on one line when width is 0.
SIZE textSize(HWND w, HFONT font, const std::wstring& text, int width) {
  if (text.empty()) return {};
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{0, 0, std::max(width, 1), 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
            DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (width ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  return {r.right, r.bottom};
}

}  // namespace

int textHeight(HWND w, HFONT font, const std::string& text, int width) {
  return textSize(w, font, toUtf16(text), width).cy;
}

void PortTile::registerClass() {
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = procedure;
  c.hInstance = GetModuleHandleW(nullptr);
  c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  c.lpszClassName = kClass;
  c.style = CS_HREDRAW | CS_VREDRAW;
  RegisterClassExW(&c);
}

PortTile::PortTile(HWND parent, int id, const production::Tile& tile, const TileFonts& fonts) : fonts_(fonts) {
  hwnd_ = CreateWindowExW(0, kClass, toUtf16(tile.port).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN,
                          0, 0, 10, 10, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleW(nullptr), this);
  for (int p = 0; p < kParts; ++p) {
    // SS_NOPREFIX: an "&" in a device's name is an ampersand, not a mnemonic.
    parts_[p] = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 10, 10, hwnd_,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    const HFONT font = p == Name ? fonts_.name : p == State ? fonts_.state : fonts_.text;
    SendMessageW(parts_[p], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  progress_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 10, 10, hwnd_, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  SendMessageW(progress_, PBM_SETRANGE32, 0, wire::kRecords);
  shown_[Name] = toUtf16(tile.name);
  shown_[Where] = toUtf16(tile.where);
  SetWindowTextW(parts_[Name], shown_[Name].c_str());
  SetWindowTextW(parts_[Where], shown_[Where].c_str());
  show(tile);
}

PortTile::~PortTile() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (brush_) DeleteObject(brush_);
}

void PortTile::show(const production::Tile& tile) {
  const std::string* texts[] = {&tile.state, &tile.detail, &tile.previous, &tile.device};
  bool moved = false;
  for (int p = State; p < kParts; ++p) {
    std::wstring now = toUtf16(*texts[p - State]);
    if (now == shown_[p]) continue;  // unchanged: no flicker
    shown_[p] = std::move(now);
    SetWindowTextW(parts_[p], shown_[p].c_str());
    moved = moved || height(static_cast<Part>(p), width()) != heights_[p];
  }
  if (moved) layout();  // the parts below take their new places
  ShowWindow(progress_, tile.programming() ? SW_SHOWNA : SW_HIDE);
  SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(tile.records), 0);
  if (const std::uint32_t now = production::tileColour(tile.kind); now != colour_) {
    colour_ = now;
    if (brush_) DeleteObject(brush_);
    brush_ = CreateSolidBrush(colourRef(now));
    // The parts take the new colour too: they paint their own background.
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
  describe(tile.description());
}

// The state words for a screen reader, through the system's annotation of
// the tile's accessible object.
void PortTile::describe(const std::string& words) {
  std::wstring text = toUtf16(words);
  if (text == described_) return;
  described_ = std::move(text);
  // One for the window's thread, made once: made anew for each change it
  // costs a look in the registry.
  static IAccPropServices* const services = [] {
    IAccPropServices* made = nullptr;
    return SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                      reinterpret_cast<void**>(&made)))
               ? made
               : nullptr;
  }();
  if (!services) return;
  services->SetHwndPropStr(hwnd_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                           described_.c_str());
  services->SetHwndPropStr(hwnd_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_VALUE, described_.c_str());
  VARIANT role{};
  role.vt = VT_I4;
  role.lVal = ROLE_SYSTEM_GROUPING;
  services->SetHwndProp(hwnd_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_ROLE, role);
}

HFONT PortTile::fontOf(Part p) const { return p == Name ? fonts_.name : p == State ? fonts_.state : fonts_.text; }

int PortTile::width() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  return std::max<int>(r.right - 2 * kInside, 1);
}

int PortTile::height(Part p, int width) const {
  const int lines = textSize(hwnd_, fontOf(p), shown_[p], width).cy;
  // The state has room for two lines, however long: the tile does not jump as it changes.
  return p == State ? std::max(lines, 2 * fontHeight(hwnd_, fonts_.state)) : lines;
}

// Each part as high as its words wrapped at the tile's width, one under
// the other; where the port is goes beside its name, or under it when the
// name leaves too little room.
void PortTile::layout() {
  const int m = kInside, w = width();
  const int nameW = std::min<int>(textSize(hwnd_, fonts_.name, shown_[Name], 0).cx, w);
  const int nameH = fontHeight(hwnd_, fonts_.name);
  const bool beside = w - nameW - m >= w / 3;
  const int whereX = beside ? m + nameW + m : m, whereW = beside ? w - nameW - m : w;
  heights_[Name] = nameH;
  heights_[Where] = height(Where, whereW);
  MoveWindow(parts_[Name], m, m, nameW, nameH, TRUE);
  MoveWindow(parts_[Where], whereX, beside ? m : m + nameH, whereW, heights_[Where], TRUE);
  int y = m + (beside ? std::max(nameH, heights_[Where]) : nameH + heights_[Where]) + 2;
  for (Part p : {State, Detail, Previous, Device}) {
    heights_[p] = height(p, w);
    MoveWindow(parts_[p], m, y, w, heights_[p], TRUE);
    y += heights_[p] + (heights_[p] ? 2 : 0);
  }
  MoveWindow(progress_, m, y + 2, w, fontHeight(hwnd_, fonts_.text) * 3 / 4, TRUE);
}

void PortTile::paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT r{};
  GetClientRect(hwnd_, &r);
  FillRect(dc, &r, brush_);
  // The focused tile wears a thick frame: the keyboard's place is seen from afar.
  if (GetFocus() == hwnd_) {
    HBRUSH frame = CreateSolidBrush(RGB(0, 0, 0));
    for (int i = 0; i < 3; ++i) {
      FrameRect(dc, &r, frame);
      InflateRect(&r, -1, -1);
    }
    DeleteObject(frame);
  } else {
    FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
  }
  EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK PortTile::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<PortTile*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<PortTile*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return self->handle(message, wParam, lParam);
}

LRESULT PortTile::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: layout(); return 0;
    case WM_PAINT: paint(); return 0;
    case WM_ERASEBKGND: return 1;  // painted whole in WM_PAINT
    case WM_SETFOCUS:
    case WM_KILLFOCUS: InvalidateRect(hwnd_, nullptr, FALSE); return 0;
    case WM_LBUTTONDOWN: SetFocus(hwnd_); return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, RGB(0, 0, 0));  // black on every state's colour
      SetBkColor(dc, colourRef(colour_));
      return reinterpret_cast<LRESULT>(brush_);
    }
    default: return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

}  // namespace isp::win32
