#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/trace.h"
#include "serial/posix/unique_fd.h"
#include "sim/device.h"
#include "sim/pty.h"

namespace isp::sim {

struct SimulatorOptions {
  DeviceOptions device{};
  int baud = 0;                             // pace bytes both ways as a line at this rate; 0: no pacing
  std::string imagePath{};                  // the programmed image goes here when record 512 arrives
  std::string linkPath{};                   // a symbolic link kept pointing at the current pty
  int ownerUid = -1, ownerGid = -1;         // who the pty is given to (the user behind sudo)
  int reopenAfterMs = -1;                   // after a hang-up, a fresh pty this much later; < 0: stay down
  bool exitWhenComplete = false;            // stop once the image is written
  bool verbose = false;                     // log every frame answered
  std::chrono::milliseconds frameGap{200};  // a frame left incomplete this long is dropped
  // The thread start() runs it on, at this nice value where the system
  // allows; below 0 it answers ahead of the machine's other work, well
  // within the link's reply time-out on a loaded machine.
  int nice = 0;
  // Every frame taken and answered, with how long after the request's last
  // byte the reply went out: the stand-in's own lateness.
  Trace* trace = nullptr;
};

// The device stand-in on a line: a pseudo-terminal it creates or a serial
// device it is given. Runs on its own thread (start) or the caller's (run).
class Simulator {
 public:
  using Log = std::function<void(const std::string&)>;
  explicit Simulator(SimulatorOptions options, Log log = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Refuses, with the reason in *error, to put its link where anything but
  // an earlier link to a pseudo-terminal is.
  bool openPty(std::string* error);
  bool openDevice(const std::string& path, std::string* error);
  std::string path() const;

  // On a new pseudo-terminal and running on its own thread; nothing, with
  // the reason in *error, when no pseudo-terminal could be had.
  static std::unique_ptr<Simulator> started(SimulatorOptions options, Log log, std::string* error);

  void start();
  void run();
  // Safe from a signal handler.
  void requestStop();
  void stop();

  // Called with the new path each time a pty is created.
  std::function<void(const std::string&)> onPath;

  // New faults for the device to inject from the next frame on.
  void arm(const DeviceOptions& options);

  std::vector<std::uint8_t> image() const;
  std::size_t recordCount() const;
  std::vector<std::string> faults() const;
  int framesHandled() const;
  // Frames whose reply has gone out whole, or that had none to give: once
  // it equals framesHandled(), no late reply is still to come.
  int framesAnswered() const { return framesAnswered_; }
  // An image that was to go to imagePath and could not: said in the log
  // when it came.
  bool imageLost() const { return imageLost_; }
  // How many times a line has been opened (a reopened pty may reuse its path).
  int linesOpened() const { return linesOpened_; }

 private:
  bool reopen();
  bool placeLink(const std::string& target, std::string* error);
  void hangUp();
  void drainLine();
  void fault(const std::string& what);
  void onBytes(const std::uint8_t* data, std::size_t n);
  void processFrames();
  // The time the reply's first byte went out; nothing when none did.
  std::optional<std::chrono::steady_clock::time_point> respond(const Response& r);
  void answered(const std::vector<std::uint8_t>& request, const Response& r,
                std::chrono::steady_clock::time_point complete,
                std::optional<std::chrono::steady_clock::time_point> replied, std::size_t record);
  void writePaced(const std::vector<std::uint8_t>& bytes);
  bool sleepInterruptible(std::chrono::steady_clock::time_point until);
  void writeImage();

  SimulatorOptions opt_;
  Log log_;
  mutable std::mutex mu_;
  Device device_;
  Pty line_;
  std::string devicePath_;
  UniqueFd wakeRead_, wakeWrite_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> imageWritten_{false};
  std::atomic<bool> imageLost_{false};
  std::atomic<int> linesOpened_{0};
  std::atomic<int> framesAnswered_{0};
  std::vector<std::uint8_t> pending_;
  std::vector<std::chrono::steady_clock::time_point> acceptedAt_;
  std::chrono::steady_clock::time_point lineFree_{};
  std::chrono::steady_clock::time_point lastByte_{};
  std::chrono::steady_clock::time_point reopenAt_{};
  bool reopenPending_ = false;
};

}  // namespace isp::sim
