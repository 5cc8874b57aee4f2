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

  Port port(int n) const override { return map_.port(n); }
  OpenResult open(int n) override;
  PortStatus check(int n) override;

 private:
  PortMap map_;
  MonotonicClock& clock_;
  LineSettings line_;
};

// The one place where errno values become serial errors and words.
SerialError serialErrorFromErrno(int err);
PortStatus portStatusFromErrno(const Port& port, int err);

}  // namespace isp
