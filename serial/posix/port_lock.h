#pragma once
#include <sys/types.h>

#include <string>

namespace isp {

// The lock file that serial programs on Linux take before they open a port:
// <dir>/LCK..ttyUSB0 holding the owner's PID as ten characters and a newline.
// Unlike TIOCEXCL it stops root too, and unlike flock it is seen before the
// open, which raises DTR and RTS.
//
// The folder is one every user may write, and we may be root: nothing found
// there is followed, waited on or trusted beyond a few bytes of text.
class PortLock {
 public:
  // Takes the lock of node, taking over one whose owner is dead. holder is
  // the live owner's PID when another process has it; blocked the words,
  // naming the lock's path, when something that is no lock file sits there
  // or a dead owner's lock cannot be removed; error an errno
  // value. When the folder cannot hold locks (absent, read-only, not ours to
  // write) the result is held() == false with none of these: the open's
  // flock still keeps our own programs apart.
  struct Result;
  static Result take(const std::string& dir, const std::string& node);
  // Who holds node's lock now, told without taking it.
  static Result look(const std::string& dir, const std::string& node);

  PortLock() = default;
  PortLock(PortLock&& o) noexcept;
  PortLock& operator=(PortLock&& o) noexcept;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;
  ~PortLock();

  bool held() const { return !path_.empty(); }

 private:
  PortLock(std::string path, dev_t dev, ino_t ino) : path_(std::move(path)), dev_(dev), ino_(ino) {}
  void release();
  std::string path_;
  // The file we linked there: only that one is removed on release.
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

struct PortLock::Result {
  PortLock lock;
  pid_t holder = 0;
  std::string blocked;
  int error = 0;
  // The error came from the lock folder (full, read-only, out of inodes):
  // said with the folder's path, so that the user knows what to free.
  bool inFolder = false;
};

}  // namespace isp
