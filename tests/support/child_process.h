#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace isp::test {

struct Finished {
  int status;  // the exit status, 128 + the signal that ended it, or 127 if it never ran
  std::string out, err;
  double cpuSeconds;  // user + system
  long maxRssKb;      // peak resident memory
};

// Runs a program to its end, standard output and error captured in unnamed
// files (no pipe can fill up and stall it); `during` gets its process id
// while it runs.
Finished runProgram(const std::vector<std::string>& argv, const std::function<void(pid_t)>& during = {});

// What `run` says, run in a child process as user 65534 when this one is root.
std::string asAnotherUser(const std::function<std::string()>& run);

}  // namespace isp::test
