#pragma once
#include <deque>
#include <memory>
#include <set>

#include "device.h"
#include "serial_port.h"

namespace isp::test {

// Ports with the stand-in's device logic right behind them, in memory: a
// request is answered the moment it is written. A late reply counts as none,
// a hang-up as a vanished port.
class DevicePlatform final : public SerialPlatform {
 public:
  explicit DevicePlatform(sim::DeviceOptions options = {}) : device(std::move(options)) {}

  sim::Device device;
  std::set<int> presentPorts = {1};
  int opens = 0;
  int closes = 0;
  bool hungUp = false;

  Port port(int n) const override { return {comName(n), "device" + std::to_string(n)}; }
  OpenResult open(int n) override;
  PortStatus check(int n) override {
    if (presentPorts.count(n) > 0 && !hungUp) return {};
    return {SerialError::NotFound, "absent"};
  }
};

}  // namespace isp::test
