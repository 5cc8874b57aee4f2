#include "serial/posix/port_map.h"

namespace isp {

PortMap PortMap::linuxDefault() {
  PortMap m;
  for (int i = 0; i < 4; ++i) m.set(1 + i, "/dev/ttyS" + std::to_string(i));
  for (int i = 0; i < 8; ++i) m.set(5 + i, "/dev/ttyUSB" + std::to_string(i));
  for (int i = 0; i < 8; ++i) m.set(13 + i, "/dev/ttyACM" + std::to_string(i));
  return m;
}

Port PortMap::port(const PortTarget& target) const {
  if (target.number == 0 && !target.name.empty()) return Port{target.name, target.name};
  const int n = target.number;
  const std::string given = target.name.empty() ? comName(n) : target.name;
  if (n < kFirstPort || n > kLastPort) return Port{given, {}};
  return Port{given, ports_[static_cast<std::size_t>(n)].node};
}

PortMap& PortMap::set(int n, std::string node) {
  if (n >= kFirstPort && n <= kLastPort) ports_[static_cast<std::size_t>(n)] = Port{comName(n), std::move(node)};
  return *this;
}

}  // namespace isp
