// The station window while the line runs: the tiles as the ports change,
// the last report lines and the totals, the stop and the close.
// windows.h first: commctrl.h needs its types.
#include <windows.h>

#include <commctrl.h>

#include "gui/win32_station/resource.h"
#include "gui/win32_station/station_window.h"
#include "production/station_words.h"
#include "text/utf16.h"

namespace isp::win32 {

namespace w = production::words;

namespace {

// A disabled control that keeps the focus would leave the keyboard dead.
void enable(HWND window, int id, bool enabled) {
  HWND c = GetDlgItem(window, id);
  if (!enabled && GetFocus() == c) SendMessageW(window, WM_NEXTDLGCTL, 0, FALSE);
  EnableWindow(c, enabled);
}

}  // namespace

void StationWindow::showFileChanged(const std::string& words) {
  HWND changed = GetDlgItem(hwnd_, IDC_FILE_CHANGED);
  SetWindowTextW(changed, toUtf16(words).c_str());
  ShowWindow(changed, words.empty() ? SW_HIDE : SW_SHOWNA);
  layout();
}

void StationWindow::showRunning(bool running) {
  for (HWND c : setup_) ShowWindow(c, running ? SW_HIDE : SW_SHOWNA);
  if (running) ShowWindow(GetDlgItem(hwnd_, IDC_KEPT), SW_HIDE);
  enable(hwnd_, IDC_START, !running);
  enable(hwnd_, IDC_STOP, running);
  if (!running) return showFileChanged({});
  tiles_.clear();
  const TileFonts fonts{.text = font_, .name = bigger_, .state = big_};
  HWND after = GetDlgItem(hwnd_, IDC_STOP);  // Tab goes from Stop across the tiles
  const auto& views = control_->view()->tiles();
  for (std::size_t i = 0; i < views.size(); ++i) {
    tiles_.push_back(std::make_unique<PortTile>(hwnd_, IDC_FIRST_TILE + static_cast<int>(i), views[i], fonts));
    SetWindowPos(tiles_.back()->window(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = tiles_.back()->window();
  }
  ListView_DeleteAllItems(GetDlgItem(hwnd_, IDC_ROWS));
  if (!tiles_.empty()) SetFocus(tiles_.front()->window());
  layout();
}

void StationWindow::showStopping() { enable(hwnd_, IDC_STOP, false); }

// Until the news is taken (update()), the view posts no more: the queue
// empties, and the tiles are painted and the keys answered in between.
void StationWindow::wake() { PostMessageW(hwnd_, kViewChanged, 0, 0); }
void StationWindow::ended() { PostMessageW(hwnd_, kLineEnded, 0, 0); }

void StationWindow::drawIn(milliseconds wait) { SetTimer(hwnd_, kFrame, static_cast<UINT>(wait.count()), nullptr); }

void StationWindow::end(int status) {
  exitStatus_ = status;
  DestroyWindow(hwnd_);
}

// Closing while a device is programmed asks first; then the line stops,
// and the window closes once every transfer has ended.
void StationWindow::close() {
  if (control_->closeNeedsAsking()) {
    const std::wstring title = toUtf16(w::kTitle), question = toUtf16(w::kCloseWhileProgramming),
                       yes = toUtf16(w::kYes), no = toUtf16(w::kNo);
    const TASKDIALOG_BUTTON buttons[] = {{IDYES, yes.c_str()}, {IDNO, no.c_str()}};
    TASKDIALOGCONFIG ask{};
    ask.cbSize = sizeof ask;
    ask.hwndParent = hwnd_;
    ask.pszWindowTitle = title.c_str();
    ask.pszContent = question.c_str();
    ask.pButtons = buttons;
    ask.cButtons = 2;
    ask.nDefaultButton = IDNO;
    int answer = IDNO;
    if (FAILED(TaskDialogIndirect(&ask, &answer, nullptr, nullptr)) || answer != IDYES) return;
  }
  control_->close();
}

void StationWindow::showNews(const production::LineView::Update& news, const production::LineView& view) {
  for (std::size_t i : news.tiles) tiles_[i]->show(view.tiles()[i]);
  if (news.appeared) layout();
  if (news.rows) showRows(view);
}

void StationWindow::showRows(const production::LineView& view) {
  HWND list = GetDlgItem(hwnd_, IDC_ROWS);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  int r = 0;
  for (const production::ReportRow& row : view.rows()) {
    const std::string* cells[] = {&row.time, &row.port, &row.device, &row.result, &row.seconds, &row.recorded};
    for (int c = 0; c < 6; ++c) {
      std::wstring cell = toUtf16(*cells[c]);
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = r;
      item.iSubItem = c;
      item.pszText = cell.data();
      if (c == 0)
        ListView_InsertItem(list, &item);
      else
        ListView_SetItem(list, &item);
    }
    ++r;
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
}

void StationWindow::showTotals(const std::string& words) {
  if (words == text(IDC_TOTALS)) return;  // no flicker at rest
  SetDlgItemTextW(hwnd_, IDC_TOTALS, toUtf16(words).c_str());
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (textHeight(hwnd_, bigger_, words, client.right - 2 * kMargin) != totalsHeight_) layout();
}

}  // namespace isp::win32
