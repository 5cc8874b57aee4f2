#pragma once
#include "production/os.h"

// Every program of the line that an interrupt stopped ends as a shell says
// a signal ended a program: with 128 + the signal's number (130 for Ctrl-C,
// 143 SIGTERM, 129 SIGHUP or a closed console, 149 Ctrl-Break).
namespace isp::production {

// 0 while no interrupt asked for a stop.
inline int signalExitStatus() {
  const int sig = stopSignal();
  return sig ? 128 + sig : 0;
}

}  // namespace isp::production
