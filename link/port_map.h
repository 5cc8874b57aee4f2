#pragma once
#include <array>
#include <string>

#include "link_record.h"

namespace isp {

// Which device node stands for COMn. The default table is the one users
// read in the README; tests and the command line supply their own.
class PortMap {
 public:
  static PortMap linuxDefault();
  PortMap() = default;

  // Empty when COMn has no node on this machine.
  const std::string& path(int port) const;
  PortMap& set(int port, std::string path);

  static std::string comName(int port) { return "COM" + std::to_string(port); }

 private:
  std::array<std::string, kLastPort + 1> paths_{};
};

}  // namespace isp
