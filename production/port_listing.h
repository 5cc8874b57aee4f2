#pragma once
#include <vector>

#include "serial/port_target.h"
#include "serial/serial_port.h"

// The system's ports as they are now, told without opening any: an open
// raises DTR and RTS, which resets many boards.
namespace isp::production {

struct ListedPort {
  int number = 0;  // COM1 to COM20
  Port port{};
  PortStatus status{};  // why it cannot be had, when it cannot
};

// The listing for scripts: one JSON array of the ports, each with its name,
// node, adapter (its facts as fields), whether it can be had now, and why not.
std::string listingJson(const std::vector<ListedPort>& ports);

// Every port of COM1 to COM20 that exists, busy or not.
std::vector<ListedPort> listPorts(SerialPlatform& platform);

// What "all" names: every port listed now; for a station (laterToo) every
// port of the table, so that one whose adapter is plugged in later is
// watched from the start.
std::vector<PortTarget> everyPort(SerialPlatform& platform, bool laterToo);

}  // namespace isp::production
