#pragma once
#include <string>

#include "serial/posix/unique_fd.h"

namespace isp::sim {

// A pseudo-terminal pair. The stand-in keeps a descriptor of the far side
// open too, so that the near side never reads as hung up while no program
// has the port open.
struct Pty {
  UniqueFd master;
  UniqueFd slaveHold;
  std::string path;
};

// Creates a pty; made raw at once unless `raw` is false (tests use a cooked
// one to check that the port layer sets every field). Empty path on failure,
// with the reason in *error.
Pty openPty(bool raw, std::string* error);

// Makes a terminal raw 8N1 without flow control or any translation.
bool makeRaw(int fd);

}  // namespace isp::sim
