#include "serial_port.h"

namespace isp {

std::string comName(int port) { return "COM" + std::to_string(port); }

std::string describe(const Port& port) { return port.adapter.empty() ? port.node : port.node + ", " + port.adapter; }

Duration LineSettings::lineTime(std::size_t bytes) const {
  const auto bits = static_cast<long long>(bytes) * kBitsPerByte;
  return std::chrono::duration_cast<Duration>(std::chrono::microseconds(bits * 1'000'000 / baud));
}

}  // namespace isp
