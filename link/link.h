#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "link/protocol.h"
#include "serial/serial_port.h"

namespace isp {

class Trace;

// One reply frame as it came, in a buffer cleared before it was read: a
// short reply leaves zeros, never an earlier reply's bytes, where it ends.
struct Reply {
  std::int32_t code = 0;  // a result code from result_codes.h
  std::array<std::uint8_t, wire::kReplyCapacity + wire::kOverhead> frame{};
  std::size_t length = 0;  // the frame's bytes, header to checksum; 0 when none came
};

// The device link: one serial port, opened by the first exchange and kept
// open across exchanges, and the framed request/reply exchange on it.
// Everything runs on the caller's thread and blocks it for at most one write
// and two reads.
class Link {
 public:
  explicit Link(SerialPlatform& platform) : platform_(platform) {}
  ~Link() { close(); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Sends one request with its payload to the device at `address` on `port`
  // and reads its reply. The port is opened when it is not; another port
  // that is open is closed first.
  Reply exchange(const PortTarget& port, int address, const wire::Request& request,
                 std::span<const std::uint8_t> payload = {});
  void close();
  bool isOpen() const { return port_ != nullptr; }
  // The port open now; an empty target when none is.
  const PortTarget& openPort() const { return openPort_; }

  // What a port is called and which node stands for it.
  Port port(const PortTarget& target) const { return platform_.port(target); }
  SerialPlatform& platform() { return platform_; }
  // Why the port failed the last exchange (an open refused, the device gone
  // away), for front ends that can say more than the result code; empty
  // when it did not fail.
  const PortStatus& portStatus() const { return portStatus_; }

 private:
  std::int32_t open(const PortTarget& port);
  std::string platformName(const PortTarget& port) const;
  static void traceExchange(Trace& t, const std::string& port, std::span<const std::uint8_t> request,
                            std::size_t written, double sent, std::span<const std::uint8_t> frame, std::size_t got);
  std::int32_t validate(const Reply& reply, std::uint8_t address, const wire::Request& request) const;

  SerialPlatform& platform_;
  std::unique_ptr<SerialPort> port_;
  PortTarget openPort_{};
  PortStatus portStatus_;
  std::array<std::uint8_t, wire::kMaxPayload + wire::kOverhead> request_{};
};

}  // namespace isp
