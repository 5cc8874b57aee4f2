#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "serial/serial_port.h"

namespace isp {

constexpr int kPortSlots = 24;  // room reserved beyond COM20, always 0

// The one record of the device link: buffers, port numbers, reply results and
// identity strings. A program run makes one and passes it by reference.
struct LinkRecord {
  static constexpr std::size_t kBufferSize = 1032;
  static constexpr std::size_t kMaxPayload = 1024;

  std::array<std::uint8_t, kBufferSize> request{};
  std::array<std::uint8_t, kBufferSize> payload{};
  std::array<std::uint8_t, kBufferSize> reply{};
  std::int32_t bufferCapacity = 256;
  std::int32_t requestLength = 0;
  std::int32_t replyLength = 0;
  std::int32_t selectedPort = 0;
  std::int32_t deviceAddress = 0;
  std::int32_t openPort = 0;
  double replyValue = 0.0;
  std::int32_t valueValid = 0;
  std::array<char, 1024> replyText{};
  std::int32_t textValid = 0;
  std::int32_t portCount = 0;
  std::array<std::int32_t, kPortSlots> portTable{};  // slot n-1 holds COMn's position

  // Device bytes as received (code page 1251 on the device side).
  std::string identityText;
  std::string deviceName;
  std::array<std::string, 4> spareText;

  std::int32_t& portSlot(int port) { return portTable[static_cast<std::size_t>(port - 1)]; }
  std::int32_t portSlot(int port) const { return portTable[static_cast<std::size_t>(port - 1)]; }
};

}  // namespace isp
