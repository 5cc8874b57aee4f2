// The station window: its controls, their places, and the messages it takes.
#include "gui/win32_station/station_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "gui/win32_common/file_dialog.h"
#include "gui/win32_station/resource.h"
#include "gui/win32_station/station_settings.h"
#include "production/station_words.h"
#include "text/escape.h"
#include "text/utf16.h"

namespace isp::win32 {

namespace w = production::words;

namespace {

HFONT scaled(const LOGFONTW& base, double times, bool bold) {
  LOGFONTW f = base;
  f.lfHeight = static_cast<LONG>(std::lround(f.lfHeight * times));
  if (bold) f.lfWeight = FW_BOLD;
  return CreateFontIndirectW(&f);
}

}  // namespace

StationWindow::StationWindow(production::KeptSettings settings, std::optional<production::LineFile> line) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  font_ = CreateFontIndirectW(&metrics.lfMessageFont);
  big_ = scaled(metrics.lfMessageFont, 1.45, true);
  bigger_ = scaled(metrics.lfMessageFont, 1.9, true);
  PortTile::registerClass();
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = procedure;
  c.hInstance = GetModuleHandleW(nullptr);
  c.hIcon = LoadIconW(c.hInstance, MAKEINTRESOURCEW(IDI_MAIN));
  c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  c.lpszClassName = kClass;
  RegisterClassExW(&c);
  CreateWindowExW(0, kClass, toUtf16(w::kTitle).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, c.hInstance, this);
  create();
  if (line) operatorMode(*line);
  control_ = std::make_unique<production::StationControl>(
      static_cast<production::StationScreen&>(*this), std::move(settings),
      production::StationControlOptions{.defaultReportFolder = defaultReportFolder(), .line = std::move(line)});
  SendDlgItemMessageW(hwnd_, IDC_INTERVAL_SPIN, UDM_SETPOS32, 0, control_->settings().intervalMs);
  SetDlgItemTextW(hwnd_, IDC_BROKER, toUtf16(control_->settings().publish.url).c_str());
  // The next run's; a registry that refuses costs only that.
  control_->onStarted = [](const production::KeptSettings& now) { remember(now); };
  SetTimer(hwnd_, kClock, 1000, nullptr);
  layout();
}

void StationWindow::showPlaced(int show) {
  WINDOWPLACEMENT p{};
  p.length = sizeof p;
  GetWindowPlacement(hwnd_, &p);
  const std::optional<WINDOWPLACEMENT> kept = rememberedPlacement();
  MONITORINFO screen{};
  screen.cbSize = sizeof screen;
  GetMonitorInfoW(MonitorFromRect(kept ? &kept->rcNormalPosition : &p.rcNormalPosition, MONITOR_DEFAULTTOPRIMARY),
                  &screen);
  // The normal place is in the work area's coordinates.
  const RECT& work = screen.rcWork;
  const production::Place free{screen.rcMonitor.left, screen.rcMonitor.top, work.right - work.left,
                               work.bottom - work.top};
  const RECT r = kept ? kept->rcNormalPosition : RECT{};
  const production::Place at = production::keptWithin({r.left, r.top, r.right - r.left, r.bottom - r.top}, free);
  p.rcNormalPosition = {at.x, at.y, at.x + at.width, at.y + at.height};
  p.flags = 0;
  p.showCmd = !kept || kept->showCmd == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  if (show == SW_SHOWMINNOACTIVE || show == SW_SHOWMINIMIZED || show == SW_MINIMIZE) p.showCmd = show;
  SetWindowPlacement(hwnd_, &p);
}

StationWindow::~StationWindow() {
  if (control_) control_->stopNow();
  if (hwnd_) DestroyWindow(hwnd_);
  for (HFONT f : {font_, big_, bigger_}) DeleteObject(f);
}

HWND StationWindow::control(const wchar_t* cls, const std::string& text, DWORD style, int id, HFONT font) {
  HWND c = CreateWindowExW(0, cls, toUtf16(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : font_), FALSE);
  return c;
}

void StationWindow::create() {
  constexpr DWORD tab = WS_TABSTOP, label = SS_LEFT | SS_NOPREFIX;
  // Each label comes just before its field, so that a screen reader names the field by it.
  setup_ = {
      control(L"Static", std::string(w::kFile), label, IDC_LABEL),
      control(L"Edit", {}, tab | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, IDC_FILE),
      control(L"Button", std::string(w::kChooseFile), tab | BS_PUSHBUTTON, IDC_CHOOSE_FILE),
      control(L"Static", {}, label, IDC_FILE_FACTS),
      control(L"Static", std::string(w::kPorts), label, IDC_LABEL + 1),
      control(WC_LISTVIEWW, {}, tab | WS_BORDER | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
              IDC_PORTS),
      control(L"Static", std::string(w::kReport), label, IDC_LABEL + 2),
      control(L"Edit", {}, tab | WS_BORDER | ES_AUTOHSCROLL, IDC_REPORT),
      control(L"Button", std::string(w::kChooseFolder), tab | BS_PUSHBUTTON, IDC_CHOOSE_FOLDER),
      control(L"Static", std::string(w::kIntervalName), label, IDC_LABEL + 3),
      control(L"Edit", {}, tab | WS_BORDER | ES_NUMBER, IDC_INTERVAL),
      control(UPDOWN_CLASSW, {}, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS | UDS_AUTOBUDDY,
              IDC_INTERVAL_SPIN),
      control(L"Static", std::string(w::kMs), label, IDC_LABEL + 4),
      control(L"Static", std::string(w::kBroker), label, IDC_LABEL + 6),
      control(L"Edit", {}, tab | WS_BORDER | ES_AUTOHSCROLL, IDC_BROKER),
      control(L"Static", {}, label, IDC_KEPT),
      control(L"Button", std::string(w::kSaveLine), tab | BS_PUSHBUTTON, IDC_SAVE_LINE),
  };
  SendDlgItemMessageW(hwnd_, IDC_INTERVAL_SPIN, UDM_SETRANGE32, 0, production::kMaxIntervalMs);
  ports_ = std::make_unique<PortList>(GetDlgItem(hwnd_, IDC_PORTS));
  control(L"Button", std::string(w::kStart), tab | BS_PUSHBUTTON, IDC_START);
  control(L"Button", std::string(w::kStop), tab | BS_PUSHBUTTON | WS_DISABLED, IDC_STOP);
  control(L"Static", {}, label, IDC_STATUS);
  control(L"Static", {}, label, IDC_FILE_CHANGED);
  control(L"Static", {}, label, IDC_BROKER_STATE);
  ShowWindow(GetDlgItem(hwnd_, IDC_BROKER_STATE), SW_HIDE);
  ShowWindow(GetDlgItem(hwnd_, IDC_FILE_CHANGED), SW_HIDE);
  control(L"Static", {}, label, IDC_TOTALS, bigger_);
  control(L"Static", std::string(w::kRowsName), label, IDC_LABEL + 5);
  HWND rows = control(WC_LISTVIEWW, {}, tab | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER, IDC_ROWS);
  ListView_SetExtendedListViewStyle(rows, LVS_EX_FULLROWSELECT);
  const int widths[] = {80, 110, 220, 260, 100, 300};
  for (int i = 0; i < static_cast<int>(std::size(w::kRowHeadings)); ++i) {
    std::wstring heading = toUtf16(w::kRowHeadings[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = widths[i];
    column.pszText = heading.data();
    ListView_InsertColumn(rows, i, &column);
  }
}

// The set-up shown as the line file has it: read-only fields, no choosers,
// the ticks fixed, the line's name as the title.
void StationWindow::operatorMode(const production::LineFile& line) {
  SetWindowTextW(hwnd_, toUtf16(escapeControls(line.name)).c_str());
  setup_.push_back(control(L"Static", production::operatorModeWords(line), SS_LEFT | SS_NOPREFIX, IDC_LINE_NOTE));
  for (int id : {IDC_REPORT, IDC_INTERVAL, IDC_BROKER}) SendDlgItemMessageW(hwnd_, id, EM_SETREADONLY, TRUE, 0);
  for (int id : {IDC_CHOOSE_FILE, IDC_CHOOSE_FOLDER, IDC_INTERVAL_SPIN, IDC_SAVE_LINE}) {
    HWND c = GetDlgItem(hwnd_, id);
    setup_.erase(std::remove(setup_.begin(), setup_.end(), c), setup_.end());
    DestroyWindow(c);
  }
  ports_->fixed = true;
}

int StationWindow::layoutSetup(int y, int width) {
  const int h = fontHeight(hwnd_, font_), row = h + 10, labelW = h * 13, button = h * 7;
  const int fieldX = kMargin + labelW, fieldW = width - fieldX - button - 2 * kMargin;
  const auto place = [&](int id, int x, int top, int cx, int cy) {
    MoveWindow(GetDlgItem(hwnd_, id), x, top, cx, cy, TRUE);
  };
  if (control_ && control_->line()) {
    const int noteH = textHeight(hwnd_, font_, text(IDC_LINE_NOTE), width - 2 * kMargin);
    place(IDC_LINE_NOTE, kMargin, y, width - 2 * kMargin, noteH);
    y += noteH + 10;
  }
  place(IDC_LABEL, kMargin, y + 4, labelW, h);
  place(IDC_FILE, fieldX, y, fieldW, row);
  place(IDC_CHOOSE_FILE, width - kMargin - button, y, button, row);
  y += row + 4;
  place(IDC_FILE_FACTS, fieldX, y, width - fieldX - kMargin, h);
  y += h + 8;
  place(IDC_LABEL + 1, kMargin, y + 4, labelW, h);
  place(IDC_PORTS, fieldX, y, width - fieldX - kMargin, h * 14);
  y += h * 14 + 8;
  place(IDC_LABEL + 2, kMargin, y + 4, labelW, h);
  place(IDC_REPORT, fieldX, y, fieldW, row);
  place(IDC_CHOOSE_FOLDER, width - kMargin - button, y, button, row);
  y += row + 8;
  place(IDC_LABEL + 3, kMargin, y + 4, labelW, h);
  place(IDC_INTERVAL, fieldX, y, h * 6, row);
  SendDlgItemMessageW(hwnd_, IDC_INTERVAL_SPIN, UDM_SETBUDDY, reinterpret_cast<WPARAM>(GetDlgItem(hwnd_, IDC_INTERVAL)),
                      0);
  place(IDC_LABEL + 4, fieldX + h * 6 + 4, y + 4, h * 3, h);
  y += row + 8;
  place(IDC_LABEL + 6, kMargin, y + 4, labelW, h);
  place(IDC_BROKER, fieldX, y, fieldW, row);
  y += row + 10;
  if (GetDlgItem(hwnd_, IDC_SAVE_LINE)) {
    place(IDC_SAVE_LINE, fieldX, y, button * 2, row);
    y += row + 10;
  }
  if (!kept_) return y;
  const int keptH = textHeight(hwnd_, font_, text(IDC_KEPT), width - fieldX - kMargin);
  place(IDC_KEPT, fieldX, y, width - fieldX - kMargin, keptH);
  return y + keptH + 10;
}

void StationWindow::layout() {
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int width = client.right, height = client.bottom, h = fontHeight(hwnd_, font_);
  int y = kMargin;
  if (!running()) y = layoutSetup(y, width);
  const int row = h + 12;
  MoveWindow(GetDlgItem(hwnd_, IDC_START), kMargin, y, h * 11, row, TRUE);
  MoveWindow(GetDlgItem(hwnd_, IDC_STOP), kMargin + h * 11 + 8, y, h * 15, row, TRUE);
  const int statusX = kMargin + h * 26 + 24;
  MoveWindow(GetDlgItem(hwnd_, IDC_STATUS), statusX, y + 4, width - statusX - kMargin, row, TRUE);
  y += row + 8;
  if (IsWindowVisible(GetDlgItem(hwnd_, IDC_BROKER_STATE))) {
    MoveWindow(GetDlgItem(hwnd_, IDC_BROKER_STATE), kMargin, y, width - 2 * kMargin, h + 4, TRUE);
    y += h + 8;
  }
  if (IsWindowVisible(GetDlgItem(hwnd_, IDC_FILE_CHANGED))) {
    MoveWindow(GetDlgItem(hwnd_, IDC_FILE_CHANGED), kMargin, y, width - 2 * kMargin, h * 2, TRUE);
    y += h * 2 + 4;
  }
  // From the bottom: the last report lines (a few are enough at a glance),
  // their label, the totals (on as many lines as the width needs); the
  // tiles get the rest.
  const int rowsH = h * 15 / 2, rowsTop = height - kMargin - rowsH, labelTop = rowsTop - h - 4;
  const int totalsH = textHeight(hwnd_, bigger_, text(IDC_TOTALS), width - 2 * kMargin);
  const int totalsTop = labelTop - totalsH - 6;
  totalsHeight_ = totalsH;
  MoveWindow(GetDlgItem(hwnd_, IDC_ROWS), kMargin, rowsTop, width - 2 * kMargin, rowsH, TRUE);
  MoveWindow(GetDlgItem(hwnd_, IDC_LABEL + 5), kMargin, labelTop, width - 2 * kMargin, h, TRUE);
  MoveWindow(GetDlgItem(hwnd_, IDC_TOTALS), kMargin, totalsTop, width - 2 * kMargin, totalsH, TRUE);
  layoutTiles({kMargin, y, width - kMargin, totalsTop - 8});
}

// The tiles shown, in an even grid.
void StationWindow::layoutTiles(const RECT& area) {
  if (!control_ || !control_->view()) return;
  const auto& views = control_->view()->tiles();
  const int n = static_cast<int>(std::count_if(views.begin(), views.end(), [](const auto& t) { return t.shown; }));
  if (n == 0) return;
  const int columns = production::gridColumns(static_cast<std::size_t>(n));
  const int rows = (n + columns - 1) / columns, gap = 8;
  const int w = (area.right - area.left - gap * (columns - 1)) / columns;
  const int h = (area.bottom - area.top - gap * (rows - 1)) / rows;
  int i = 0;
  for (std::size_t t = 0; t < tiles_.size(); ++t) {
    ShowWindow(tiles_[t]->window(), views[t].shown ? SW_SHOWNA : SW_HIDE);
    if (!views[t].shown) continue;
    MoveWindow(tiles_[t]->window(), area.left + i % columns * (w + gap), area.top + i / columns * (h + gap), w,
               std::max(h, 0), TRUE);
    ++i;
  }
}

LRESULT CALLBACK StationWindow::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<StationWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<StationWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->handle(message, wParam, lParam);
}

LRESULT StationWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: layout(); return 0;
    case WM_GETMINMAXINFO: {
      // Room for the set-up's fields and a line's buttons.
      const int h = fontHeight(hwnd_, font_);
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {h * 40, h * 34};
      return 0;
    }
    case WM_COMMAND: command(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_TIMER:
      if (wParam == kClock) control_->tick();
      if (wParam == kFrame) KillTimer(hwnd_, kFrame), control_->draw();
      return 0;
    case WM_NOTIFY: {
      const auto* n = reinterpret_cast<const NMHDR*>(lParam);
      if (n->idFrom == IDC_PORTS && n->code == LVN_ITEMCHANGING)
        return ports_->refuses(*reinterpret_cast<const NMLISTVIEW*>(n)) ? TRUE : FALSE;
      if (n->idFrom == IDC_PORTS && n->code == LVN_ITEMCHANGED && control_)
        if (const auto port = ports_->changed(*reinterpret_cast<const NMLISTVIEW*>(n)))
          control_->choosePort(port->first, port->second);
      if (n->idFrom == IDC_ROWS && n->code == NM_CUSTOMDRAW) {
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
        // A device whose line the record does not hold is marked.
        const std::size_t r = draw->nmcd.dwItemSpec;
        const production::LineView* view = control_ ? control_->view() : nullptr;
        if (view && r < view->rows().size() && view->rows()[r].notRecorded) draw->clrTextBk = RGB(0xf5, 0xb3, 0xb3);
        return CDRF_DODEFAULT;
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      const bool red = (id == IDC_STATUS && alarm_) || (id == IDC_FILE_FACTS && factsAlarm_) ||
                       (id == IDC_BROKER_STATE && brokerAlarm_) || id == IDC_FILE_CHANGED || id == IDC_KEPT;
      if (red) SetTextColor(dc, RGB(0xa0, 0, 0));
      SetBkColor(dc, GetSysColor(id == IDC_FILE ? COLOR_WINDOW : COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(id == IDC_FILE ? COLOR_WINDOW : COLOR_BTNFACE));
    }
    case kViewChanged: control_->woken(); return 0;
    case kLineEnded: control_->ended(); return 0;
    case kStopAsked: control_->stopAndQuit(static_cast<int>(wParam)); return 0;
    case WM_CLOSE: close(); return 0;
    // The session ends: a Stop, every report line written before the
    // system may end the process.
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
      if (wParam) control_->stopNow();
      return 0;
    case WM_DESTROY: {
      control_->stopNow();
      WINDOWPLACEMENT p{};
      p.length = sizeof p;
      if (GetWindowPlacement(hwnd_, &p)) rememberPlacement(p);
      PostQuitMessage(exitStatus_);
      return 0;
    }
    default: return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

void StationWindow::command(int id, int code) {
  if (!control_) return;  // the fields set while they are made
  if (code == EN_CHANGE && id == IDC_REPORT) control_->typeReport(text(IDC_REPORT));
  if (code == EN_CHANGE && id == IDC_INTERVAL) control_->typeInterval(text(IDC_INTERVAL));
  if (code == EN_CHANGE && id == IDC_BROKER) control_->typePublish(text(IDC_BROKER));
  // Buttons say BN_CLICKED (0); the keys F5 and Shift+F5 come as accelerators (1).
  if (code != BN_CLICKED && code != 1) return;
  switch (id) {
    case IDC_START: control_->start(); break;
    case IDC_STOP: control_->stop(); break;
    case IDC_CHOOSE_FILE:
      if (const auto path = chooseFirmwareFile(hwnd_)) control_->chooseFile(*path);
      break;
    case IDC_SAVE_LINE:
      if (const auto path = chooseFileToSave(hwnd_, std::string(w::kSaveLine), std::string(w::kLineFilter), L"*.json"))
        control_->saveLine(*path);
      break;
    case IDC_CHOOSE_FOLDER:
      if (const auto folder = chooseFolder(hwnd_, std::string(w::kReportFolder))) control_->chooseReportFolder(*folder);
      break;
    default: break;
  }
}

std::string StationWindow::text(int id) const {
  HWND c = GetDlgItem(hwnd_, id);
  std::wstring t(static_cast<std::size_t>(GetWindowTextLengthW(c)) + 1, L'\0');
  t.resize(static_cast<std::size_t>(GetWindowTextW(c, t.data(), static_cast<int>(t.size()))));
  return toUtf8(t);
}

void StationWindow::showStatus(const std::string& words, bool alarm) {
  alarm_ = alarm;
  SetDlgItemTextW(hwnd_, IDC_STATUS, toUtf16(words).c_str());
}

void StationWindow::showFirmware(const std::string& path, const std::string& facts, bool alarm) {
  SetDlgItemTextW(hwnd_, IDC_FILE, toUtf16(path).c_str());
  factsAlarm_ = alarm;
  SetDlgItemTextW(hwnd_, IDC_FILE_FACTS, toUtf16(facts).c_str());
}

void StationWindow::showReport(const std::string& path) { SetDlgItemTextW(hwnd_, IDC_REPORT, toUtf16(path).c_str()); }

void StationWindow::showKept(const std::string& problems) {
  kept_ = !problems.empty();
  SetDlgItemTextW(hwnd_, IDC_KEPT, toUtf16(problems).c_str());
  ShowWindow(GetDlgItem(hwnd_, IDC_KEPT), !kept_ || running() ? SW_HIDE : SW_SHOWNA);
  layout();
}

void StationWindow::showBroker(const std::string& words, bool alarm) {
  brokerAlarm_ = alarm;
  HWND state = GetDlgItem(hwnd_, IDC_BROKER_STATE);
  SetWindowTextW(state, toUtf16(words).c_str());
  if (IsWindowVisible(state) != !words.empty()) {
    ShowWindow(state, words.empty() ? SW_HIDE : SW_SHOWNA);
    layout();
  }
  InvalidateRect(state, nullptr, TRUE);
}

void StationWindow::showPorts(const std::vector<production::PortRow>& rows) { ports_->show(rows); }

}  // namespace isp::win32
