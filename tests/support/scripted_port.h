#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "serial_port.h"

namespace isp::test {

using Bytes = std::vector<std::uint8_t>;

// An in-memory serial platform: ports that are present, replies queued as
// exact bytes, and a journal of every operation in the order it happened.
class ScriptedPlatform final : public SerialPlatform {
 public:
  std::set<int> presentPorts;
  std::map<int, SerialError> openErrors;  // ports that exist but refuse to open
  std::vector<std::string> journal;       // "open 3", "write 00 00 04 ...", "read 4", "close 3"
  std::vector<Bytes> writes;
  std::deque<std::uint8_t> input;         // what the device has sent, not yet read
  bool disconnectOnRead = false;

  void queue(const Bytes& reply) { input.insert(input.end(), reply.begin(), reply.end()); }

  OpenResult open(int port) override;
  bool present(int port) override { return presentPorts.count(port) > 0; }
  std::string systemName(int port) const override { return "scripted" + std::to_string(port); }
};

std::string hex(const Bytes& b);

}  // namespace isp::test
