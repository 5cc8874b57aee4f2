#include "programming/dialog_rules.h"

#include "link/result_codes.h"
#include "programming/messages.h"

namespace isp {

void MainDialogRules::OnInitDialog() {
  m_image.reset();
  m_strLog.clear();
  m_rec.portCount = 0;
  m_rec.portTable.fill(0);
  std::vector<TransferView::PortEntry> entries;
  // The ports that can be had now, as the window's list offers them.
  for (const TablePort& t : comTable(m_link.platform())) {
    if (!t.status) continue;
    const int n = t.target.number;
    m_rec.portSlot(n) = ++m_rec.portCount;
    if (entries.empty()) m_rec.selectedPort = n;
    const Port p = m_link.port(t.target);
    entries.push_back({n, p.name, describe(p)});
  }
  m_view.setPortList(entries);
  if (m_rec.portCount > 0) {
    m_view.selectPort(0);
  } else {
    m_view.selectPort(-1);
    line(msg::kNoPorts);
  }
  m_view.setProgressRange(0, wire::kDataRecords);
  m_view.setProgress(0);
  m_view.enable(Control::Stop, false);
  refresh();
}

void MainDialogRules::OnPortChange(int index) {
  const int k = index + 1;
  int port = 0;
  if (k >= 1 && k <= m_rec.portCount)
    port = m_rec.portIn(k);
  else
    m_view.selectPort(-1);
  if (PortTarget::com(port) != m_link.openPort()) m_link.close();
  if (port >= kFirstPort && port <= kLastPort) m_rec.selectedPort = port;
  refresh();
}

void MainDialogRules::OnFile(const std::optional<std::string>& path) {
  std::string lines;
  m_image.choose(path, lines);
  append(lines);
  refresh();
}

std::int32_t MainDialogRules::identifyAndLog() {
  return isp::identifyAndLog(m_link, PortTarget::com(m_rec.selectedPort), m_rec.deviceAddress, *this).code;
}

void MainDialogRules::OnTransmit() {
  m_strLog.clear();
  if (identifyAndLog() != rc::kOk) {
    refresh();
    return;
  }
  std::string lines;
  const bool ready = m_image.makeReady(lines);
  append(lines);
  if (!ready) {
    refresh();
    return;
  }
  m_transfer.emplace(m_link, PortTarget::com(m_rec.selectedPort), m_rec.deviceAddress, m_image,
                     static_cast<LogSink&>(*this));
  m_bInTimer = false;
  m_bRunning = true;
  m_view.startRecordTimer(kTimerId, m_timerPeriodMs);
  setControls(true);
  refresh();
}

void MainDialogRules::setControls(bool transferring) {
  for (Control c : {Control::File, Control::Port, Control::Transmit}) m_view.enable(c, !transferring);
  m_view.enable(Control::Stop, transferring);
}

void MainDialogRules::OnTimer(int id) {
  // A tick that comes while another is being handled does nothing.
  if (id != kTimerId || m_bInTimer || !m_bRunning) return;
  m_bInTimer = true;
  if (m_transfer->block() < 0) m_view.setProgressRange(0, wire::kDataRecords);
  m_view.setProgress(block());
  const std::size_t logged = m_strLog.size();
  m_transfer->step();
  if (m_strLog.size() != logged) refresh();
  if (!m_transfer->running()) EndTransfer();
  m_bInTimer = false;
}

int MainDialogRules::EndTransfer() {
  // A Stop with no transfer begun ends none: it is said as a stop all the same.
  logEnd(*this, m_transfer ? m_transfer->status() : Outcome::Stopped);
  m_view.stopRecordTimer(kTimerId);
  m_bRunning = false;
  m_bInTimer = false;
  setControls(false);
  refresh();
  return 0;
}

int MainDialogRules::block() const {
  if (!m_transfer || m_transfer->status() == Outcome::Completed) return 0;
  return std::max(m_transfer->block(), 0);
}

void MainDialogRules::OnStop() {
  if (m_transfer) m_transfer->stop();
  EndTransfer();
}

void MainDialogRules::release() {
  m_image.release();
  m_link.close();
}

}  // namespace isp
