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

  OpenResult open(int port) override;
  bool present(int port) override { return presentPorts.count(port) > 0 && !hungUp; }
  std::string systemName(int port) const override { return "device" + std::to_string(port); }
};

}  // namespace isp::test
