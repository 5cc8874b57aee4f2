#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "link/link.h"
#include "programming/firmware_image.h"
#include "programming/transfer_view.h"

namespace isp {

// The main window's rules without the window: start-up, port choice, the
// firmware file, Transmit, the record timer, Stop and the ways the window
// ends. Front ends call the handlers and implement TransferView.
class FirmwareTransfer {
 public:
  static constexpr int kTimerId = 1;
  static constexpr int kTimerPeriodMs = 250;

  enum Status { NotCompleted = 0, Completed = 1, Stopped = 2 };
  // How the last Transmit went.
  enum class TransmitOutcome { None, NotIdentified, NoImage, Started };

  // shared: an image loaded once for several engines, each on its own port
  // and thread; it is only read here. Without one the engine has its own.
  FirmwareTransfer(Link& link, TransferView& view, int timerPeriodMs = kTimerPeriodMs,
                   const FirmwareImage* shared = nullptr);

  // Window start: probes the ports, fills the list, selects the first one.
  void OnInitDialog();
  // The port list's selection (index, -1 for none) changed or lost focus.
  void OnPortChange(int index);
  // The file dialog's answer: a full path, or nothing when cancelled.
  void OnFile(const std::optional<std::string>& path);
  // For front ends that must not touch the device without a whole image:
  // false, with the read error logged, when the chosen file cannot hold one.
  bool fileHoldsImage();
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
  int block() const { return m_nBlock; }
  int status() const { return m_nStatus; }
  TransmitOutcome lastTransmit() const { return m_lastTransmit; }
  // The record whose exchange ended the last transfer, and its result code
  // (0 when no exchange failed).
  int failedBlock() const { return m_nFailedBlock; }
  std::int32_t failure() const { return m_nFailure; }
  const std::string& log() const { return m_strLog; }
  FirmwareImage& image() { return m_ownImage; }

 private:
  void append(std::string_view piece);
  // Text the device sent: the log keeps it as it came, a view may show it otherwise.
  void appendDeviceText(std::string_view bytes);
  void appendLine(std::string_view text);
  void refresh();
  void setControls(bool transferring);
  // Sends record k; false, with the failure logged, when it was not taken.
  bool sendRecord(int k);
  void release();

  Link& m_link;
  TransferView& m_view;
  int m_timerPeriodMs;
  FirmwareImage m_ownImage;
  const FirmwareImage* m_shared;
  // The image records are sent from.
  const FirmwareImage& records() const { return m_shared ? *m_shared : m_ownImage; }
  std::string m_strLog;
  int m_nBlock = 0;
  bool m_bInTimer = false;
  int m_nStatus = NotCompleted;
  bool m_bRunning = false;
  TransmitOutcome m_lastTransmit = TransmitOutcome::None;
  int m_nFailedBlock = 0;
  std::int32_t m_nFailure = 0;
};

}  // namespace isp
