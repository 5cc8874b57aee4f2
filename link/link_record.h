#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace isp {

constexpr int kPortSlots = 24;  // room reserved beyond COM20, always 0

// The main window's record of the device link: the port chosen, the ports
// found and who the device said it is. The link itself keeps the port open.
struct LinkRecord {
  std::int32_t selectedPort = 0;
  std::int32_t deviceAddress = 0;
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
