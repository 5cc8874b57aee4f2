#include "device_platform.h"

namespace isp::test {

namespace {

class DevicePort final : public SerialPort {
 public:
  explicit DevicePort(DevicePlatform& p) : p_(p) {}
  ~DevicePort() override { ++p_.closes; }

  void discardInput() override { input_.clear(); }

  IoResult write(std::span<const std::uint8_t> bytes) override {
    if (p_.hungUp) return {0, true};
    const sim::Response r = p_.device.handle(bytes);
    if (r.hangup) p_.hungUp = true;
    if (r.delay.count() == 0) input_.insert(input_.end(), r.bytes.begin(), r.bytes.end());
    return {bytes.size(), false};
  }

  IoResult read(std::span<std::uint8_t> bytes) override {
    std::size_t k = 0;
    while (k < bytes.size() && !input_.empty()) {
      bytes[k++] = input_.front();
      input_.pop_front();
    }
    return {k, p_.hungUp && k == 0};
  }

 private:
  DevicePlatform& p_;
  std::deque<std::uint8_t> input_;
};

}  // namespace

OpenResult DevicePlatform::open(int n) {
  PortStatus status = check(n);
  if (!status) return {nullptr, status};
  ++opens;
  return {std::make_unique<DevicePort>(*this), {}};
}

}  // namespace isp::test
