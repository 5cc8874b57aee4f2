#pragma once
#include <sys/resource.h>
#include <sys/utsname.h>

#include <cstdio>
#include <thread>

// What every benchmark writes down with its figures: the machine they were
// measured on, and the CPU the process itself used.
namespace isp {

inline void printMachine() {
  utsname u{};
  uname(&u);
  std::printf("machine: %s %s %s, %u hardware threads\n", u.sysname, u.release, u.machine,
              std::thread::hardware_concurrency());
}

// User and system time of this process so far, in seconds.
inline double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace isp
