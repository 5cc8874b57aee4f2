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
  // A table of one port, the device the user named by its path; it is
  // called by that path, not by a COM name.
  static PortMap onlyDevice(const std::string& path);
  PortMap() = default;

  // COMn, with an empty node when COMn has none on this machine.
  Port port(int n) const;
  PortMap& set(int n, std::string node);

 private:
  std::array<Port, kLastPort + 1> ports_{};
};

}  // namespace isp
