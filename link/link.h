#pragma once
#include <cstdint>
#include <memory>

#include "link/link_record.h"
#include "link/protocol.h"
#include "serial/serial_port.h"

namespace isp {

// The device link: the link record, the port it uses and the framed
// request/reply exchange. Everything runs on the caller's thread and blocks
// it for at most one write and two reads.
class Link {
 public:
  explicit Link(SerialPlatform& platform) : platform_(platform) {}
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  LinkRecord rec;

  // 0 probes COM1 to COM20 and refills the port table and count; n probes COMn
  // alone. Returns the number of ports found present.
  std::int32_t probe(int port = 0);
  // Opens the selected port: 0, 258 when it cannot be opened, 259 when
  // another port is open.
  std::int32_t openPort();
  // Always 0.
  std::int32_t closePort();

  // Sends one request with its payload from rec.payload and reads the
  // reply. Returns a result code from result_codes.h.
  std::int32_t exchange(int address, const wire::Request& request);

  // What COMn is called and which node stands for it.
  Port port(int n) const { return platform_.port(n); }
  // Why the port failed the last exchange (an open refused, the device gone
  // away), for front ends that can say more than the result code; empty
  // when it did not fail.
  const PortStatus& portStatus() const { return portStatus_; }

 private:
  void clearReply();
  std::int32_t validateAndStore(std::size_t n, std::uint8_t address, std::uint8_t command2, std::uint8_t flag);

  SerialPlatform& platform_;
  std::unique_ptr<SerialPort> port_;
  PortStatus portStatus_;
};

}  // namespace isp
