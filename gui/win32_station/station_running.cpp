// The station window while the line runs: the start, the tiles as the
// ports change, the last report lines and the totals, the stop.
// windows.h first: commctrl.h needs its types.
#include <windows.h>

#include <commctrl.h>

#include <filesystem>
#include <system_error>

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

StationSettings StationWindow::settings() const {
  std::string unused;
  const auto ms = production::parseInterval(text(IDC_INTERVAL), &unused);
  return {text(IDC_FILE),
          ports_->chosen(),
          reportFolder_.empty() ? text(IDC_REPORT) : std::string(),
          ms.value_or(production::kDefaultIntervalMs),
          reportFolder_,
          problems_};
}

// The file is read at once, and again at each start: a file that cannot
// hold an image is refused before any device is in sight, and what the
// window says of the image is what the line programs.
bool StationWindow::loadImage(const std::string& path) {
  SetDlgItemTextW(hwnd_, IDC_FILE, toUtf16(path).c_str());
  image_ = production::readImageFile(path);
  factsAlarm_ = !image_->whole;
  SetDlgItemTextW(hwnd_, IDC_FILE_FACTS, toUtf16(production::factsWords(*image_)).c_str());
  return image_->whole;
}

// While the line runs it keeps the image it loaded; a file changed on disk
// since is said, so that nobody thinks the new one is being programmed.
void StationWindow::checkFile() {
  HWND changed = GetDlgItem(hwnd_, IDC_FILE_CHANGED);
  if (!running() || IsWindowVisible(changed) || !image_->changedOnDisk()) return;
  SetWindowTextW(changed, toUtf16(production::changedWords(*image_)).c_str());
  ShowWindow(changed, SW_SHOWNA);
  layout();
}

bool StationWindow::start() {
  if (running()) return true;
  if (!problems_.empty()) return refuse(std::string(w::kFixKept)), false;
  // Read again: what the line programs is the file as it is now.
  if (text(IDC_FILE).empty())
    image_.reset();
  else
    loadImage(text(IDC_FILE));
  std::string error;
  const auto ms = production::parseInterval(text(IDC_INTERVAL), &error);
  if (!ms) {
    refuse(std::string(w::kBadInterval));
    return false;
  }
  StationSettings s = settings();
  // The field names the file a day written now goes into.
  if (!reportFolder_.empty()) SetDlgItemTextW(hwnd_, IDC_REPORT, toUtf16(production::dayFileIn(reportFolder_)).c_str());
  const std::string report = text(IDC_REPORT);
  std::vector<production::PortEntry> entries;
  for (const std::string& name : s.ports) entries.push_back({name, ports_->placeOf(name)});
  std::string why;
  auto run = production::LineRun::start({.ports = entries,
                                         // A folder: a line running past midnight goes
                                         // on in the next day's file.
                                         .report = s.report,
                                         .reportFolder = s.reportFolder,
                                         .period = milliseconds(*ms),
                                         // Woken once for whatever piled up, however fast the devices go.
                                         .wake = [hwnd = hwnd_] { PostMessageW(hwnd, kViewChanged, 0, 0); },
                                         .ended = [hwnd = hwnd_] { PostMessageW(hwnd, kLineEnded, 0, 0); }},
                                        image_, &why);
  if (!run) {
    refuse(why);
    return false;
  }
  tiles_.clear();
  run_ = std::move(run);
  report_ = report;
  const TileFonts fonts{.text = font_, .name = bigger_, .state = big_};
  HWND after = GetDlgItem(hwnd_, IDC_STOP);  // Tab goes from Stop across the tiles
  const auto& views = run_->view().tiles();
  for (std::size_t i = 0; i < views.size(); ++i) {
    tiles_.push_back(std::make_unique<PortTile>(hwnd_, IDC_FIRST_TILE + static_cast<int>(i), views[i], fonts));
    SetWindowPos(tiles_.back()->window(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = tiles_.back()->window();
  }
  ListView_DeleteAllItems(GetDlgItem(hwnd_, IDC_ROWS));
  closeWhenEnded_ = false;
  if (!tiles_.empty()) SetFocus(tiles_.front()->window());
  for (HWND c : setup_) ShowWindow(c, SW_HIDE);
  enable(hwnd_, IDC_START, false);
  enable(hwnd_, IDC_STOP, true);
  say(std::string(w::kRunning) + report, false);
  KillTimer(hwnd_, kRefresh);
  SetTimer(hwnd_, kClock, 1000, nullptr);
  since_ = std::chrono::steady_clock::now();
  showTotals();
  layout();
  remember(s);  // the next run's; a registry that refuses costs only that
  return true;
}

void StationWindow::stop() {
  if (!running()) return;
  run_->stop();
  enable(hwnd_, IDC_STOP, false);
  say(std::string(w::kStopping), false);
}

void StationWindow::stopNow() {
  if (!run_) return;
  run_->stop();
  run_->finish();
}

void StationWindow::stopAndQuit(int status) {
  quitStatus_ = status;
  if (!running()) return (void)DestroyWindow(hwnd_);
  stop();
}

void StationWindow::ended() {
  if (!running()) return;  // ended already, by stopNow
  const bool whole = run_->finish();
  KillTimer(hwnd_, kClock);
  ports_->refresh();
  SetTimer(hwnd_, kRefresh, 2000, nullptr);
  for (HWND c : setup_) ShowWindow(c, SW_SHOWNA);
  ShowWindow(GetDlgItem(hwnd_, IDC_FILE_CHANGED), SW_HIDE);
  enable(hwnd_, IDC_START, true);
  enable(hwnd_, IDC_STOP, false);
  if (!whole)
    refuse(std::string(w::kStoppedLinesMissing) + report_);
  else
    say(std::string(w::kStopped), false);
  layout();
  if (quitStatus_ >= 0 || closeWhenEnded_) DestroyWindow(hwnd_);
}

// Closing while a device is programmed asks first; then the line stops,
// and the window closes once every transfer has ended.
void StationWindow::close() {
  if (running() && run_->view().programming()) {
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
  if (!running()) return (void)DestroyWindow(hwnd_);  // ended while the question was asked
  closeWhenEnded_ = true;
  stop();
}

// Until the news is taken (update()), the view posts no more: the queue
// empties, and the tiles are painted and the keys answered in between.
void StationWindow::viewChanged() {
  const auto wait = kFramePeriod - (std::chrono::steady_clock::now() - shown_);
  if (wait <= std::chrono::milliseconds(0)) return showChanges();
  SetTimer(hwnd_, kFrame, static_cast<UINT>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()), nullptr);
}

void StationWindow::showChanges() {
  if (!run_) return;
  shown_ = std::chrono::steady_clock::now();
  const production::LineView::Update u = run_->view().update();
  for (std::size_t i : u.tiles) tiles_[i]->show(run_->view().tiles()[i]);
  // A device without its line in the record is said, and stays said.
  for (const std::string& alarm : u.alarms) refuse(alarm);
  if (!u.rows) return;
  showRows();
  showTotals();
}

void StationWindow::showRows() {
  HWND list = GetDlgItem(hwnd_, IDC_ROWS);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  int r = 0;
  for (const production::ReportRow& row : run_->view().rows()) {
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

void StationWindow::showTotals() {
  const auto ms = running()
                      ? std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since_)
                      : std::chrono::milliseconds(0);
  const std::string now = run_ ? run_->view().totals(ms) : production::LineView({}, {}).totals({});
  if (now == text(IDC_TOTALS)) return;  // no flicker at rest
  SetDlgItemTextW(hwnd_, IDC_TOTALS, toUtf16(now).c_str());
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (textHeight(hwnd_, bigger_, now, client.right - 2 * kMargin) != totalsHeight_) layout();
}

}  // namespace isp::win32
