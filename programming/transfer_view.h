#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace isp {

enum class Control { File, Port, Transmit, Stop };

// What a window shows and does for the main window's rules, which hold every
// rule and every text; a view only displays and keeps the timer.
class TransferView {
 public:
  virtual ~TransferView() = default;
  // Show the whole log text now.
  virtual void refreshLog(const std::string& text) = 0;
  virtual void setProgressRange(int low, int high) = 0;
  virtual void setProgress(int position) = 0;
  virtual void enable(Control control, bool enabled) = 0;
  // The record timer: ticks come back as OnTimer(id) every periodMs.
  virtual void startRecordTimer(int id, int periodMs) = 0;
  virtual void stopRecordTimer(int id) = 0;
  // The port list: entries in order, and the selected index (-1: none).
  struct PortEntry {
    int port;            // 1 to 20
    std::string label;   // "COM<n>"
    std::string detail;  // its device node and adapter, for a tooltip
  };
  virtual void setPortList(const std::vector<PortEntry>& entries) { (void)entries; }
  virtual void selectPort(int index) { (void)index; }
};

}  // namespace isp
