#include "programming/firmware_transfer.h"

#include "link/identification.h"
#include "link/result_codes.h"
#include "programming/messages.h"

namespace isp {

FirmwareTransfer::FirmwareTransfer(Link& link, TransferView& view, int timerPeriodMs, const FirmwareImage* shared)
    : m_link(link), m_view(view), m_timerPeriodMs(timerPeriodMs), m_shared(shared) {}

void FirmwareTransfer::append(std::string_view piece) {
  m_strLog += piece;
  m_view.logAppended(piece);
}

void FirmwareTransfer::appendDeviceText(std::string_view bytes) {
  const std::string text = msg::fromCp1251(bytes);
  m_strLog += text;
  m_view.deviceTextAppended(text);
}

void FirmwareTransfer::appendLine(std::string_view text) {
  append(text);
  append(msg::kEol);
}

void FirmwareTransfer::refresh() { m_view.refreshLog(m_strLog); }

void FirmwareTransfer::OnInitDialog() {
  m_ownImage.reset();
  m_strLog.clear();
  LinkRecord& rec = m_link.rec;
  m_link.probe(0);
  std::vector<TransferView::PortEntry> entries;
  for (int n = kFirstPort; n <= kLastPort; ++n) {
    if (rec.portSlot(n) == 0) continue;
    if (entries.empty()) rec.selectedPort = n;
    const Port p = m_link.port(n);
    entries.push_back({n, p.name, describe(p)});
  }
  m_view.setPortList(entries);
  if (rec.portCount > 0) {
    m_view.selectPort(0);
  } else {
    m_view.selectPort(-1);
    appendLine(msg::kNoPorts);
  }
  m_view.setProgressRange(0, wire::kDataRecords);
  m_view.setProgress(0);
  m_view.enable(Control::Stop, false);
  refresh();
}

void FirmwareTransfer::OnPortChange(int index) {
  LinkRecord& rec = m_link.rec;
  const int k = index + 1;
  int port = 0;
  if (k >= 1 && k <= rec.portCount) {
    for (int n = kFirstPort; n <= kLastPort; ++n)
      if (rec.portSlot(n) == k) port = n;
  } else {
    m_view.selectPort(-1);
  }
  if (port != rec.openPort) m_link.closePort();
  if (port >= kFirstPort && port <= kLastPort) rec.selectedPort = port;
  refresh();
}

void FirmwareTransfer::OnFile(const std::optional<std::string>& path) {
  std::string lines;
  m_ownImage.choose(path, lines);
  append(lines);
  refresh();
}

std::int32_t FirmwareTransfer::identifyAndLog() {
  LinkRecord& rec = m_link.rec;
  append(msg::kPortLine);
  appendLine(m_link.port(rec.selectedPort).name);
  rec.identityText.clear();
  rec.deviceName.clear();
  for (auto& s : rec.spareText) s.clear();

  const std::int32_t r = identify(m_link, rec.selectedPort, rec.deviceAddress);
  if (r == rc::kOk) {
    append(msg::kDevice);
    appendDeviceText(rec.deviceName);
    appendLine(msg::kInProgrammingMode);
  } else if (r == rc::kNotInProgrammingMode) {
    append(msg::kDevice);
    appendDeviceText(rec.identityText);
    appendLine(msg::kNotReadyForProgramming);
  } else {
    appendLine(msg::resultText(r));
  }
  return r;
}

bool FirmwareTransfer::fileHoldsImage() {
  if (!m_ownImage.fileOpen() || m_ownImage.fileCanHoldImage()) return true;
  appendLine(msg::kFileReadError);
  refresh();
  return false;
}

void FirmwareTransfer::OnTransmit() {
  m_strLog.clear();
  if (identifyAndLog() != rc::kOk) {
    m_lastTransmit = TransmitOutcome::NotIdentified;
    refresh();
    return;
  }
  std::string lines;
  const bool ready = m_shared ? m_shared->imageLoaded() : m_ownImage.makeReady(lines);
  append(lines);
  if (!ready) {
    m_lastTransmit = TransmitOutcome::NoImage;
    refresh();
    return;
  }
  m_nBlock = -1;
  m_nFailure = 0;
  m_nStatus = NotCompleted;
  m_bInTimer = false;
  m_bRunning = true;
  m_lastTransmit = TransmitOutcome::Started;
  m_view.startRecordTimer(kTimerId, m_timerPeriodMs);
  setControls(true);
  refresh();
}

void FirmwareTransfer::setControls(bool transferring) {
  if (transferring) {
    m_view.enable(Control::File, false);
    m_view.enable(Control::Port, false);
    m_view.enable(Control::Transmit, false);
    m_view.enable(Control::Stop, true);
  } else {
    m_view.enable(Control::Stop, false);
    m_view.enable(Control::File, true);
    m_view.enable(Control::Port, true);
    m_view.enable(Control::Transmit, true);
  }
}

bool FirmwareTransfer::sendRecord(int k) {
  const auto record = records().record(k);
  std::copy(record.begin(), record.end(), m_link.rec.payload.begin());
  const std::int32_t r = m_link.exchange(m_link.rec.deviceAddress, wire::Request::record(k));
  if (r == rc::kOk) return true;
  m_nFailedBlock = k;
  m_nFailure = r;
  append(msg::kError);
  append(std::to_string(r));
  append(msg::kBlock);
  appendLine(std::to_string(k));
  refresh();
  EndTransfer();
  return false;
}

void FirmwareTransfer::OnTimer(int id) {
  // A tick that comes while another is being handled does nothing.
  if (id != kTimerId || m_bInTimer || !m_bRunning) return;
  m_bInTimer = true;
  const int n = m_nBlock;
  if (n < 0) {
    m_nBlock = 0;
    m_nStatus = NotCompleted;
    m_view.setProgressRange(0, wire::kDataRecords);
    m_view.setProgress(0);
    if (sendRecord(0)) {
      appendLine(msg::kProgrammingStarted);
      refresh();
    }
  } else if (n < wire::kDataRecords) {
    m_view.setProgress(n);
    if (sendRecord(n + 1)) {
      m_nBlock = n + 1;
      if (m_nBlock >= wire::kDataRecords) {
        m_nStatus = Completed;
        EndTransfer();
        m_nBlock = 0;
      }
    }
  }
  m_bInTimer = false;
}

int FirmwareTransfer::EndTransfer() {
  switch (m_nStatus) {
    case Stopped: appendLine(msg::kTransferStopped); break;
    case NotCompleted: appendLine(msg::kProgrammingNotCompleted); break;
    case Completed: appendLine(msg::kProgrammingCompleted); break;
    default: break;
  }
  m_view.stopRecordTimer(kTimerId);
  m_bRunning = false;
  m_bInTimer = false;
  setControls(false);
  refresh();
  return 0;
}

void FirmwareTransfer::OnStop() {
  m_nStatus = Stopped;
  EndTransfer();
}

void FirmwareTransfer::release() {
  m_ownImage.release();
  m_link.closePort();
}

}  // namespace isp
