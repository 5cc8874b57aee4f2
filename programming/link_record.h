#pragma once
#include <algorithm>
#include <array>
#include <cstdint>

namespace isp {

constexpr int kPortSlots = 24;  // room reserved beyond COM20, always 0

// The main window's record of the device link: the port chosen, the ports
// found and the device's address. The link itself keeps the port open; who
// the device is goes to the log.
struct LinkRecord {
  std::int32_t selectedPort = 0;
  std::int32_t deviceAddress = 0;
  std::int32_t portCount = 0;
  std::array<std::int32_t, kPortSlots> portTable{};  // slot n-1 holds COMn's position

  std::int32_t& portSlot(int port) { return portTable[static_cast<std::size_t>(port - 1)]; }
  std::int32_t portSlot(int port) const { return portTable[static_cast<std::size_t>(port - 1)]; }
  // The port at position k of the list; 0 when none is.
  int portIn(int k) const {
    const auto at = std::find(portTable.begin(), portTable.end(), k);
    return k >= 1 && at != portTable.end() ? static_cast<int>(at - portTable.begin()) + 1 : 0;
  }
};

}  // namespace isp
