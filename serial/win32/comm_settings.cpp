#include "serial/win32/comm_settings.h"

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

bool configure(CommCalls& calls, HANDLE h, const LineSettings& line) {
  calls.setupComm(h, kDriverQueueBytes, kDriverQueueBytes);
  DCB dcb = lineState(line);
  if (!calls.setCommState(h, dcb)) {
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    calls.setCommState(h, dcb);
  }
  COMMTIMEOUTS timeouts = lineTimeouts(line);
  if (calls.setCommTimeouts(h, timeouts)) return true;
  // A read ends only with a total time-out, or at once with MAXDWORD as the
  // interval; without either it waits for bytes that may never come.
  COMMTIMEOUTS now{};
  return calls.getCommTimeouts(h, now) && (now.ReadIntervalTimeout == MAXDWORD || now.ReadTotalTimeoutConstant != 0 ||
                                           now.ReadTotalTimeoutMultiplier != 0);
}

}  // namespace isp
