#include "comm_settings.h"

namespace isp {

namespace {
DWORD ms(milliseconds d) { return static_cast<DWORD>(d.count()); }
}  // namespace

DCB lineState(const LineSettings& line) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = static_cast<DWORD>(line.baud);
  dcb.fBinary = TRUE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return dcb;
}

COMMTIMEOUTS lineTimeouts(const LineSettings& line) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = ms(line.readInterval);
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = ms(line.readTotal);
  t.WriteTotalTimeoutMultiplier = ms(line.writePerByte);
  t.WriteTotalTimeoutConstant = ms(line.writeConstant);
  return t;
}

}  // namespace isp
