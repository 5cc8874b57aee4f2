#pragma once
#include <array>
#include <string>

#include "serial/serial_port.h"

namespace isp {

// Which device node stands for COMn. The default table is the one users
// read in the README; tests and the command line supply their own.
class PortMap {
 public:
  static PortMap linuxDefault();
  PortMap() = default;

  // COMn by the name it was given ("COM5", "5"), with an empty node when
  // COMn has none on this machine; a device path, called by that path.
  Port port(const PortTarget& target) const;
  PortMap& set(int n, std::string node);

 private:
  std::array<Port, kLastPort + 1> ports_{};
};

}  // namespace isp
