#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "clock.h"

// The platform's serial operations. This is the only interface that knows an
// operating system exists; one implementation per platform lives beside it.
namespace isp {

enum class SerialError {
  None,
  NotFound,        // no such port or device node
  Busy,            // another program holds it
  AccessDenied,    // no permission to open it
  NotASerialPort,  // the node exists but is not a terminal
  Disconnected,    // the device went away (hang-up, I/O error)
  Io,              // anything else
};

const char* describe(SerialError e);

// Line and time-out settings, with the meaning they have on Windows: a read
// waits up to readTotal for its bytes and ends early after readInterval of
// silence once a byte has come; a write of n bytes takes at most
// writePerByte * n + writeConstant.
struct LineSettings {
  int baud = 19200;
  milliseconds readInterval{20};
  milliseconds readTotal{150};
  milliseconds writePerByte{5};
  milliseconds writeConstant{50};
  // Start bit, 8 data bits, stop bit.
  static constexpr int kBitsPerByte = 10;
  Duration lineTime(std::size_t bytes) const;
};

struct IoResult {
  std::size_t count = 0;       // bytes moved; fewer than asked is a time-out
  bool disconnected = false;   // the device is gone: further I/O is pointless
};

// An open, configured, exclusively held port. Closing is destruction.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Returns once the bytes have left the computer, or at the write time-out.
  virtual IoResult write(std::span<const std::uint8_t> bytes) = 0;
  // Reads up to bytes.size() under the read time-outs.
  virtual IoResult read(std::span<std::uint8_t> bytes) = 0;
};

struct OpenResult {
  std::unique_ptr<SerialPort> port;
  SerialError error = SerialError::None;
};

class SerialPlatform {
 public:
  virtual ~SerialPlatform() = default;
  // Opens COMn exclusively and configures it as 19200 8N1, raw, no flow
  // control, DTR and RTS inactive. Never waits for carrier.
  virtual OpenResult open(int port) = 0;
  // True when COMn could be opened right now; it is closed again at once and
  // nothing is sent or configured.
  virtual bool present(int port) = 0;
  // What the user knows the port by on this system (a device node here).
  virtual std::string systemName(int port) const = 0;
};

}  // namespace isp
