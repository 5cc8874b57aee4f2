#pragma once
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "production/station.h"

namespace isp::station {

// Port states told on the ports' threads and not yet shown. Progress comes
// as fast as a device acknowledges: a run of counts is one change, the
// newest, so that a busy line cannot flood the window's event loop.
class PendingChanges {
 public:
  // True when the window must be woken to show them: nothing was pending.
  bool add(const production::PortState& state) {
    std::lock_guard lock(mu_);
    std::vector<production::PortState>& queue = byPort_[state.port];
    if (!queue.empty() && queue.back().kind == production::PortState::Programming &&
        state.kind == production::PortState::Programming)
      queue.back() = state;
    else
      queue.push_back(state);
    return !std::exchange(woken_, true);
  }
  // Everything pending, each port's changes in the order they came.
  std::map<std::string, std::vector<production::PortState>> take() {
    std::lock_guard lock(mu_);
    woken_ = false;
    return std::exchange(byPort_, {});
  }

 private:
  std::mutex mu_;
  std::map<std::string, std::vector<production::PortState>> byPort_;
  bool woken_ = false;
};

}  // namespace isp::station
