#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace isp::test {

// A program run by a test, its standard output and error captured.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void signal(int sig) const;
  // Waits, then takes both streams; returns the exit status (128 + signal
  // number when killed by one).
  int finish();

  std::string out, err;
  // Of the finished child: user + system CPU time, and peak resident memory.
  double cpuSeconds = 0;
  long maxRssKb = 0;

 private:
  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
  int status_ = -1;
};

}  // namespace isp::test
