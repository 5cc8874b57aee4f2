#include "production/port_listing.h"

namespace isp::production {

std::vector<ListedPort> listPorts(SerialPlatform& platform) {
  std::vector<ListedPort> ports;
  for (int n = kFirstPort; n <= kLastPort; ++n) {
    const PortStatus status = platform.check(n);
    if (status.error != SerialError::NotFound) ports.push_back({n, platform.port(n), status});
  }
  return ports;
}

std::vector<PortTarget> portsThere(SerialPlatform& platform) {
  std::vector<PortTarget> ports;
  for (const ListedPort& p : listPorts(platform))
    if (p.status) ports.push_back({comName(p.number), p.number});
  return ports;
}

}  // namespace isp::production
