#include "production/port_listing.h"

namespace isp::production {

std::vector<ListedPort> listPorts(SerialPlatform& platform) {
  std::vector<ListedPort> ports;
  for (const TablePort& p : comTable(platform))
    if (p.listed()) ports.push_back({p.target.number, platform.port(p.target), p.status});
  return ports;
}

std::vector<PortTarget> everyPort(SerialPlatform& platform, bool laterToo) {
  std::vector<PortTarget> ports;
  for (const TablePort& p : comTable(platform))
    if (laterToo || p.listed()) ports.push_back(p.target);
  return ports;
}

}  // namespace isp::production
