#pragma once
#include <windows.h>

#include <string>

#include "serial/serial_port.h"

namespace isp {

// Win32 serial ports: COMn is the device \\.\COMn.
class Win32SerialPlatform final : public SerialPlatform {
 public:
  // Given a path, the one port there is is that path, called by it.
  explicit Win32SerialPlatform(std::string onlyPath = {}, LineSettings line = {});

  Port port(int n) const override;
  OpenResult open(int n) override;
  PortStatus check(int n) override;
  PortStatus whyGone(int n) override;

 private:
  std::string onlyPath_;
  LineSettings line_;
};

// The one place where Win32 error codes become serial errors and words.
SerialError serialErrorFromWin32(DWORD err);
PortStatus portStatusFromWin32(const Port& port, DWORD err);
// The system's own text for err, in UTF-8, with its number.
std::string systemMessage(DWORD err);

}  // namespace isp
