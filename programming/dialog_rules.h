#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "link/link.h"
#include "programming/firmware_image.h"
#include "programming/link_record.h"
#include "programming/transfer.h"
#include "programming/transfer_view.h"

namespace isp {

// The main window's rules on the transfer core: start-up, port choice, the
// firmware file, Transmit, the record timer, Stop and the ways the window
// ends. The Qt and Win32 windows call the handlers and implement TransferView.
class MainDialogRules final : private LogSink {
 public:
  static constexpr int kTimerId = 1;
  static constexpr int kTimerPeriodMs = kDefaultIntervalMs;

  MainDialogRules(Link& link, TransferView& view, int timerPeriodMs = kTimerPeriodMs)
      : m_link(link), m_view(view), m_timerPeriodMs(timerPeriodMs) {}

  // Window start: probes the ports, fills the list, selects the first one.
  void OnInitDialog();
  // The port list's selection (index, -1 for none) changed or lost focus.
  void OnPortChange(int index);
  // The file dialog's answer: a full path, or nothing when cancelled.
  void OnFile(const std::optional<std::string>& path);
  void OnTransmit();
  void OnTimer(int id);
  void OnStop();
  int EndTransfer();
  // Exit button, and window close: both release the file and the port.
  void OnOK() { release(); }
  void OnClose() { release(); }

  // Identification with its log line, as Transmit does it; returns the result.
  std::int32_t identifyAndLog();

  bool running() const { return m_bRunning; }
  // Read from the transfer, never kept beside it: the last record the device
  // took (0 before the first and once all are in), and how it ended.
  int block() const;
  Outcome::Kind status() const { return m_transfer ? m_transfer->status() : Outcome::NotCompleted; }
  const std::string& log() const { return m_strLog; }
  const LinkRecord& linkRecord() const { return m_rec; }
  FirmwareImage& image() { return m_image; }

 private:
  void append(std::string_view piece) override { m_strLog += piece; }
  void refresh() { m_view.refreshLog(m_strLog); }
  void setControls(bool transferring);
  void release();

  Link& m_link;
  LinkRecord m_rec;
  TransferView& m_view;
  int m_timerPeriodMs;
  FirmwareImage m_image;
  std::optional<Transfer> m_transfer;
  std::string m_strLog;
  bool m_bInTimer = false;
  bool m_bRunning = false;
};

}  // namespace isp
