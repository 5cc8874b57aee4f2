#pragma once
#include <windows.h>

#include <string>

#include "serial/serial_port.h"

namespace isp {

// Win32 serial ports: COMn is the device \\.\COMn; a device path is
// opened as it is.
class Win32SerialPlatform final : public SerialPlatform {
 public:
  explicit Win32SerialPlatform(LineSettings line = {});

  Port port(const PortTarget& target) const override;
  OpenResult open(const PortTarget& target) override;
  PortStatus check(const PortTarget& target) override;
  PortStatus whyGone(const PortTarget& target) override;

 private:
  LineSettings line_;
};

// The USB facts Windows keeps for the device behind COMn; empty when it
// keeps none (a built-in port, a port that leads nowhere).
Adapter usbFacts(const std::string& comName);

// The one place where Win32 error codes become serial errors and words.
SerialError serialErrorFromWin32(DWORD err);
PortStatus portStatusFromWin32(const Port& port, DWORD err);
// The system's own text for err, in UTF-8, with its number.
std::string systemMessage(DWORD err);

}  // namespace isp
