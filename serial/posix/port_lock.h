#pragma once
#include <sys/types.h>

#include <string>

namespace isp {

// The lock file that serial programs on Linux take before they open a port:
// <dir>/LCK..ttyUSB0 holding the owner's PID as ten characters and a newline.
// Unlike TIOCEXCL it stops root too, and unlike flock it is seen before the
// open, which raises DTR and RTS.
class PortLock {
 public:
  // Takes the lock of node, taking over one whose owner is dead. holder is
  // the live owner's PID when another process has it; error an errno value.
  // When the folder cannot hold locks (absent, read-only, not ours to write)
  // the result is held() == false with no holder and no error: the open's
  // flock still keeps our own programs apart.
  struct Result;
  static Result take(const std::string& dir, const std::string& node);
  // The live process holding node's lock, 0 when none does.
  static pid_t holder(const std::string& dir, const std::string& node);

  PortLock() = default;
  PortLock(PortLock&& o) noexcept;
  PortLock& operator=(PortLock&& o) noexcept;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;
  ~PortLock();

  bool held() const { return !path_.empty(); }

 private:
  explicit PortLock(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

struct PortLock::Result {
  PortLock lock;
  pid_t holder = 0;
  int error = 0;
};

}  // namespace isp
