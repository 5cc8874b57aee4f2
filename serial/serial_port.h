#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "serial/clock.h"
#include "serial/port_target.h"

// The platform's serial operations. This is the only interface that knows an
// operating system exists; one implementation per platform lives beside it.
namespace isp {

// Ports are numbered 1 to 20, COM1 to COM20; 0 is none.
constexpr int kFirstPort = 1;
constexpr int kLastPort = 20;

// "COM<n>": the one place a port number becomes the name users know.
std::string comName(int port);

enum class SerialError {
  None,
  NotFound,        // no such port or device node
  Busy,            // another program holds it
  AccessDenied,    // no permission to open it
  NotASerialPort,  // the node exists but is not a terminal
  Disconnected,    // the device went away (hang-up, I/O error)
  Unplugged,       // the device went away and its node with it: an adapter pulled out
  Io,              // anything else
};

// What one of the system's error numbers (errno; GetLastError() on Windows)
// means, alike on every system, so that each program says it in its own
// words: one implementation per system.
enum class SystemCause {
  None,
  Permission,       // no permission
  Busy,             // in use
  Absent,           // no such file, folder or device
  NotASerialPort,   // a node that is no terminal
  NotARegularFile,  // a folder, a device, a pipe where a file was wanted
  UnsafePath,       // a link or folder another user could change: not followed
  NotYours,         // another user's file: not written over
  NoSpace,          // the disk (or the user's quota, or a size limit) is full
  ReadOnly,         // a read-only file system or medium
  Io,               // an input/output error
  Other,            // said by its number
};
SystemCause systemCause(int code);

// What the system knows of the device behind a port, each fact only when
// it is known.
struct Adapter {
  std::string vendorId{}, productId{};  // USB ids in hex: "0403", "6001"
  std::string maker{}, product{}, serial{};
  std::string usbPath{};  // where it is plugged in, bus and ports: "1-1.4"
  std::string device{};   // what the system calls it when it tells no more: "\Device\VCP0"
  bool empty() const {
    return vendorId.empty() && productId.empty() && maker.empty() && product.empty() && serial.empty() &&
           usbPath.empty() && device.empty();
  }
};
// "USB 0403:6001, FTDI, FT232R USB UART, serial A50285BI", as people read it.
std::string adapterWords(const Adapter& adapter);

// A port as the user knows it and as the system opens it.
struct Port {
  std::string name;   // as the user gave it ("COM5", "5", a path): every line of a run names it so
  std::string node;   // "/dev/ttyUSB0", "\\.\COM5"; empty when this machine has none
  Adapter adapter{};  // what the system knows of the device behind it
};

// "/dev/ttyUSB0, USB 0403:6001, FTDI ...": the node and what is known of it.
std::string describe(const Port& port);

// Whether a port can be had, and if not, why, in words the user can act on
// (the system's own error text included).
// The facts behind the words go with them, for a program that says them
// in another language.
struct PortStatus {
  SerialError error = SerialError::None;
  std::string why{};
  int code = 0;         // the system's error number behind it; 0 when none
  long holder = 0;      // Busy: the PID of the program of ours that holds it
  bool lock = false;    // Busy: a lock file that is no live holder's keeps it
  std::string group{};  // AccessDenied: the group whose members may open it
  explicit operator bool() const { return error == SerialError::None; }
};

// The words for why a port cannot be had, the same on every system;
// systemText is the operating system's own description of the error code.
PortStatus portStatus(const Port& port, SerialError error, const std::string& systemText, int code = 0);

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
  std::size_t count = 0;      // bytes moved; fewer than asked is a time-out
  bool disconnected = false;  // the device is gone: further I/O is pointless
};

// An open, configured, exclusively held port. Closing is destruction.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Drops whatever has arrived and not been read.
  virtual void discardInput() = 0;
  // Returns once the bytes have left the computer, or at the write time-out.
  virtual IoResult write(std::span<const std::uint8_t> bytes) = 0;
  // Reads up to bytes.size() under the read time-outs.
  virtual IoResult read(std::span<std::uint8_t> bytes) = 0;
  // The line as set, and as found (put back at close), in words for a trace.
  virtual std::string settings() const { return {}; }
};

struct OpenResult {
  std::unique_ptr<SerialPort> port;
  PortStatus status;
};

class SerialPlatform {
 public:
  virtual ~SerialPlatform() = default;
  // What a port is called and which node stands for it: COMn's from the
  // system's table, a device path's the path itself.
  virtual Port port(const PortTarget& target) const = 0;
  // Opens the port exclusively and configures it as 19200 8N1, raw, no flow
  // control, DTR and RTS inactive. Never waits for carrier. Closing the port
  // puts back the settings it had.
  virtual OpenResult open(const PortTarget& target) = 0;
  // Whether the port could be opened right now, told without opening it where the
  // system allows: an open raises DTR and RTS, which resets some boards.
  virtual PortStatus check(const PortTarget& target) = 0;
  // Why the port's device stopped answering, asked after a hang-up: whether the
  // adapter was pulled out or the line merely hung up.
  virtual PortStatus whyGone(const PortTarget& target) = 0;
};

// A port of the system's COM table as it is now.
struct TablePort {
  PortTarget target;  // COMn
  PortStatus status;  // why it cannot be had, when it cannot
  // Its node exists, busy or not: the system lists it.
  bool listed() const { return status.error != SerialError::NotFound; }
};

// COM1 to COM20 in order, each checked without opening it: the one walk of
// the table, for every listing and every "all".
std::vector<TablePort> comTable(SerialPlatform& platform);

}  // namespace isp
