#include "serial_port.h"

namespace isp {

const char* describe(SerialError e) {
  switch (e) {
    case SerialError::None: return "no error";
    case SerialError::NotFound: return "no such port";
    case SerialError::Busy: return "the port is in use by another program";
    case SerialError::AccessDenied: return "permission denied";
    case SerialError::NotASerialPort: return "not a serial port";
    case SerialError::Disconnected: return "the device is disconnected";
    case SerialError::Io: return "input/output error";
  }
  return "unknown error";
}

Duration LineSettings::lineTime(std::size_t bytes) const {
  const auto bits = static_cast<long long>(bytes) * kBitsPerByte;
  return std::chrono::duration_cast<Duration>(std::chrono::microseconds(bits * 1'000'000 / baud));
}

}  // namespace isp
