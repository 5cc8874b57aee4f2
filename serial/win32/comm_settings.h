#pragma once
#include <windows.h>

#include "serial_port.h"

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

}  // namespace isp
