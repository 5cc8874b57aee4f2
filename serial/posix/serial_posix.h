#pragma once
#include <string>

#include "serial/posix/port_map.h"
#include "serial/serial_port.h"

namespace isp {

// termios serial ports. COMn is found through a PortMap.
class PosixSerialPlatform final : public SerialPlatform {
 public:
  // sysfsRoot is where the kernel's device tree is read, lockDir where the
  // lock files of serial ports are kept; tests lay out their own.
  explicit PosixSerialPlatform(PortMap map = PortMap::linuxDefault(), std::string sysfsRoot = "/sys",
                               std::string lockDir = "/run/lock");

  Port port(int n) const override;
  OpenResult open(int n) override;
  PortStatus check(int n) override;
  PortStatus whyGone(int n) override;

 private:
  PortMap map_;
  std::string sysfsRoot_;
  std::string lockDir_;
  LineSettings line_;
};

// The one place where errno values become serial errors and words.
SerialError serialErrorFromErrno(int err);
PortStatus portStatusFromErrno(const Port& port, int err);

}  // namespace isp
