#pragma once
#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "production/station_control.h"

namespace isp::test {

// What the control tells its window, as the window would draw it.
class Screen final : public production::StationScreen {
 public:
  std::vector<std::string> told;
  std::atomic<bool> lineEnded = false, woken = false;
  std::string firmware;
  void showStatus(const std::string& w, bool alarm) override { told.push_back((alarm ? "alarm " : "status ") + w); }
  void showFirmware(const std::string&, const std::string& facts, bool) override { firmware = facts; }
  void showReport(const std::string&) override {}
  void showKept(const std::string& p) override { told.push_back("kept " + p); }
  void showPorts(const std::vector<production::PortRow>&) override {}
  void showFileChanged(const std::string& w) override { told.push_back("changed " + w); }
  void showRunning(bool) override {}
  void showStopping() override {}
  void showNews(const production::LineView::Update&, const production::LineView&) override { told.push_back("news"); }
  void showTotals(const std::string&) override {}
  void showBroker(const std::string& w, bool) override { told.push_back("broker " + w); }
  void drawIn(milliseconds wait) override { told.push_back("draw in " + std::to_string(wait.count())); }
  void end(int status) override { told.push_back("end " + std::to_string(status)); }
  void wake() override { woken = true; }
  void ended() override { lineEnded = true; }
  bool saw(const std::string& part) const {
    return std::any_of(told.begin(), told.end(), [&](const std::string& t) { return t.find(part) != t.npos; });
  }
};

}  // namespace isp::test
