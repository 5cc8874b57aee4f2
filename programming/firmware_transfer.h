#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "firmware_image.h"
#include "link.h"
#include "transfer_view.h"

namespace isp {

// The main window's rules without the window: start-up, port choice, the
// firmware file, Transmit, the record timer, Stop and the ways the window
// ends. Front ends call the handlers and implement TransferView.
class FirmwareTransfer {
 public:
  static constexpr int kTimerId = 1;
  static constexpr int kTimerPeriodMs = 250;
  static constexpr int kDataRecords = 512;

  enum Status { NotCompleted = 0, Completed = 1, Stopped = 2 };
  // How the last Transmit went.
  enum class TransmitOutcome { None, NotIdentified, NoImage, Started };

  struct Options {
    int timerPeriodMs = kTimerPeriodMs;
    // How the port line names the selected port; "COM<n>" by default.
    std::function<std::string(int port)> portName;
  };

  FirmwareTransfer(Link& link, TransferView& view, Options options);
  FirmwareTransfer(Link& link, TransferView& view) : FirmwareTransfer(link, view, Options{}) {}

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
  void OnOK();
  void OnClose();

  // Identification with its log line, as Transmit does it; returns the result.
  std::int32_t identifyAndLog();

  bool running() const { return m_bRunning; }
  int block() const { return m_nBlock; }
  int status() const { return m_nStatus; }
  TransmitOutcome lastTransmit() const { return m_lastTransmit; }
  const std::string& log() const { return m_strLog; }
  FirmwareImage& image() { return m_image; }

 private:
  void append(std::string_view piece);
  void appendLine(std::string_view text);
  void refresh();
  void clearLog();
  void setControls(bool transferring);
  std::int32_t sendRecord(int k);

  Link& m_link;
  TransferView& m_view;
  Options m_options;
  FirmwareImage m_image;
  std::string m_strLog;
  int m_nBlock = 0;
  bool m_bInTimer = false;
  int m_nStatus = NotCompleted;
  bool m_bRunning = false;
  TransmitOutcome m_lastTransmit = TransmitOutcome::None;
};

}  // namespace isp
