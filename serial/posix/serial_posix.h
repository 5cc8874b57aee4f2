#pragma once
#include <string>

#include "serial/posix/port_map.h"
#include "serial/serial_port.h"

namespace isp {

// termios serial ports. COMn is found through a PortMap; a device path is
// opened as it is.
class PosixSerialPlatform final : public SerialPlatform {
 public:
  // sysfsRoot is where the kernel's device tree is read, lockDir where the
  // lock files of serial ports are kept; tests lay out their own.
  explicit PosixSerialPlatform(PortMap map = PortMap::linuxDefault(), std::string sysfsRoot = "/sys",
                               std::string lockDir = "/run/lock");

  Port port(const PortTarget& target) const override;
  OpenResult open(const PortTarget& target) override;
  PortStatus check(const PortTarget& target) override;
  PortStatus whyGone(const PortTarget& target) override;

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
