#include "link/protocol.h"

#include <algorithm>
#include <cassert>

namespace isp::wire {

std::uint8_t checksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum & 0xFFu);
}

std::size_t build(std::span<std::uint8_t> out, std::uint8_t address, std::uint8_t command, std::uint8_t command2,
                  std::uint8_t flag, std::span<const std::uint8_t> payload) {
  const std::size_t length = payload.size() + kOverhead;
  assert(out.size() >= length);
  const std::size_t n = payload.size() + 4;
  out[0] = 0x00;
  out[1] = address;
  out[2] = static_cast<std::uint8_t>(n & 0xFF);
  out[3] = static_cast<std::uint8_t>(n >> 8);
  out[4] = command;
  out[5] = command2;
  out[6] = flag;
  std::copy(payload.begin(), payload.end(), out.begin() + 7);
  out[length - 1] = checksum(out.first(length - 1));
  return length;
}

}  // namespace isp::wire
