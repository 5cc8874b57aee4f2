#include "port_map.h"

namespace isp {

PortMap PortMap::linuxDefault() {
  PortMap m;
  for (int i = 0; i < 4; ++i) m.set(1 + i, "/dev/ttyS" + std::to_string(i));
  for (int i = 0; i < 8; ++i) m.set(5 + i, "/dev/ttyUSB" + std::to_string(i));
  for (int i = 0; i < 8; ++i) m.set(13 + i, "/dev/ttyACM" + std::to_string(i));
  return m;
}

const std::string& PortMap::path(int port) const {
  static const std::string none;
  if (port < kFirstPort || port > kLastPort) return none;
  return paths_[static_cast<std::size_t>(port)];
}

PortMap& PortMap::set(int port, std::string path) {
  if (port >= kFirstPort && port <= kLastPort) paths_[static_cast<std::size_t>(port)] = std::move(path);
  return *this;
}

}  // namespace isp
