#pragma once
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace isp::test {

using Bytes = std::vector<std::uint8_t>;

// An in-memory serial platform: ports that are present, replies given as
// exact bytes in answer to each write, and a journal of every operation in
// the order it happened.
class ScriptedPlatform final : public SerialPlatform {
 public:
  std::set<int> presentPorts;
  std::vector<std::string> journal;  // "open 3", "write 3: 00 00 04 ...", "read 4", "close 3"
  std::vector<Bytes> writes;
  std::deque<Bytes> replies;       // the device's answer to each next write
  std::deque<std::uint8_t> input;  // what the device has sent, not yet read
  bool disconnectOnRead = false;

  void queue(const Bytes& reply) { replies.push_back(reply); }

  Port port(const PortTarget& t) const override { return {t.name, "scripted" + std::to_string(t.number)}; }
  OpenResult open(const PortTarget& t) override;
  PortStatus check(const PortTarget& t) override;
  PortStatus whyGone(const PortTarget& t) override { return portStatus(port(t), SerialError::Disconnected, "gone"); }
};

std::string hex(const Bytes& b);

}  // namespace isp::test
