#pragma once
#include <windows.h>

#include "serial/serial_port.h"

// What a port is set to, as the structures Windows takes. Pure, so that
// every field can be checked without a port.
namespace isp {

// The driver's queues in each direction: a whole frame of the link's
// 256-byte buffer and the 8 bytes around it.
constexpr DWORD kDriverQueueBytes = 264;

// Cleared to zero, then the baud rate, 8N1 and fBinary alone: no parity
// check, no flow control of any kind, DTR and RTS held inactive, NUL bytes
// kept, and no abort on a line error (which would fail every later call
// until ClearCommError).
DCB lineState(const LineSettings& line);

// The read and write time-outs exactly as LineSettings states them; a read
// has no per-byte part.
COMMTIMEOUTS lineTimeouts(const LineSettings& line);

// The calls that configure an open port. Wine takes every setting, so the
// decisions of configure() are tested against calls that refuse.
class CommCalls {
 public:
  virtual ~CommCalls() = default;
  virtual bool setupComm(HANDLE h, DWORD inQueue, DWORD outQueue) = 0;
  virtual bool setCommState(HANDLE h, DCB& dcb) = 0;
  virtual bool setCommTimeouts(HANDLE h, COMMTIMEOUTS& timeouts) = 0;
  virtual bool getCommTimeouts(HANDLE h, COMMTIMEOUTS& timeouts) = 0;
};

// Sets the port up as far as its driver allows: a refused step leaves the
// driver's own setting, and the port is used all the same. A line state
// refused is offered again with XON 0x11 and XOFF 0x13, since some drivers
// reject equal XON and XOFF characters even with XON/XOFF off. False only
// when the time-outs were refused and those in force let a read wait for ever.
bool configure(CommCalls& calls, HANDLE h, const LineSettings& line);

}  // namespace isp
