#pragma once
#include <string>

#include "port_map.h"
#include "serial_port.h"

namespace isp {

// termios serial ports. COMn is found through a PortMap.
class PosixSerialPlatform final : public SerialPlatform {
 public:
  explicit PosixSerialPlatform(PortMap map = PortMap::linuxDefault(),
                               MonotonicClock& clock = SteadyClock::instance(),
                               LineSettings line = {});

  OpenResult open(int port) override;
  bool present(int port) override;
  std::string systemName(int port) const override { return map_.path(port); }

  OpenResult openPath(const std::string& path);

 private:
  PortMap map_;
  MonotonicClock& clock_;
  LineSettings line_;
};

// The one place where errno values become serial errors.
SerialError serialErrorFromErrno(int err);

}  // namespace isp
