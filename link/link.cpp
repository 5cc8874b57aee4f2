#include "link/link.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <span>

#include "link/protocol.h"
#include "link/result_codes.h"

namespace isp {

namespace {
bool validPort(int port) { return port >= kFirstPort && port <= kLastPort; }
}  // namespace

std::int32_t Link::probe(int port) {
  if (port == 0) {
    rec.portCount = 0;
    rec.portTable.fill(0);
    std::int32_t found = 0;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
      if (!platform_.check(n)) continue;
      rec.portSlot(n) = ++found;
      ++rec.portCount;
    }
    return found;
  }
  if (!validPort(port) || !platform_.check(port)) return 0;
  rec.portSlot(port) = 1;
  return 1;
}

std::int32_t Link::openPort() {
  if (rec.openPort != 0) return rec.openPort == rec.selectedPort ? rc::kOk : rc::kOtherPortOpen;
  if (!validPort(rec.selectedPort)) {
    portStatus_ = {SerialError::NotFound, "no port is selected"};
    return rc::kPortNotOpen;
  }
  OpenResult opened = platform_.open(rec.selectedPort);
  portStatus_ = opened.status;
  if (!opened.port) return rc::kPortNotOpen;
  port_ = std::move(opened.port);
  rec.openPort = rec.selectedPort;
  clearReply();
  return rc::kOk;
}

std::int32_t Link::closePort() {
  port_.reset();
  rec.openPort = 0;
  return rc::kOk;
}

// Clears every byte a reply can occupy (a 255-byte body ends at index 258),
// so that a short reply never meets the tail of an earlier one.
void Link::clearReply() {
  const auto clear = static_cast<std::size_t>(rec.bufferCapacity) + wire::kOverhead;
  std::fill_n(rec.reply.begin(), clear, std::uint8_t{0});
  rec.replyLength = 0;
}

std::int32_t Link::exchange(int address, const wire::Request& request) {
  rec.valueValid = 0;
  rec.textValid = 0;
  portStatus_ = {};

  assert(request.payloadLength <= LinkRecord::kMaxPayload);
  const std::size_t p = std::min(request.payloadLength, LinkRecord::kMaxPayload);
  const auto addr = static_cast<std::uint8_t>(address);
  const std::uint8_t cmd2 = request.command2;
  const std::uint8_t flg = request.flag;
  rec.requestLength = static_cast<std::int32_t>(
      wire::build(rec.request, addr, request.command, cmd2, flg, std::span<const std::uint8_t>(rec.payload).first(p)));

  if (rec.openPort != 0 && rec.openPort != rec.selectedPort) closePort();
  if (rec.openPort == 0 && rec.selectedPort != 0) {
    if (const std::int32_t r = openPort(); r != rc::kOk) return r;
  }
  clearReply();
  if (!port_) return rc::kPortNotOpen;

  // One request, one reply: nothing valid can be waiting now. A reply that
  // came after its time-out would otherwise be taken for this one's, and
  // every later exchange would read its predecessor's reply.
  port_->discardInput();
  const auto frame = std::span<const std::uint8_t>(rec.request).first(static_cast<std::size_t>(rec.requestLength));
  bool gone = port_->write(frame).disconnected;
  if (!gone) gone = port_->read(std::span(rec.reply).first(wire::kHeaderSize)).disconnected;
  const std::size_t n = wire::lengthField(rec.reply.data());
  rec.replyLength = static_cast<std::int32_t>(n);
  const auto capacity = static_cast<std::size_t>(rec.bufferCapacity);
  if (!gone && n > 0 && n < capacity)
    gone = port_->read(std::span(rec.reply).subspan(wire::kHeaderSize, n)).disconnected;
  // A device that is gone stays gone: close the port so that the next
  // exchange opens it afresh instead of timing out on a dead descriptor.
  if (gone) {
    portStatus_ = platform_.whyGone(rec.openPort);
    closePort();
  }

  if (n == 0) return rc::kNoReply;
  // A length the buffer cannot hold is a broken reply; its body was not read.
  if (n >= capacity) return rc::kBadReply;
  return validateAndStore(n, addr, cmd2, flg);
}

std::int32_t Link::validateAndStore(std::size_t n, std::uint8_t address, std::uint8_t command2, std::uint8_t flag) {
  const auto& r = rec.reply;
  rec.replyLength = static_cast<std::int32_t>(n + wire::kHeaderSize);
  if (wire::checksum(std::span(r).first(n + 3)) != r[n + 3]) return rc::kBadReply;
  if (r[0] != 0x00 || r[1] != address || r[5] != command2 || r[6] != flag) return rc::kBadReply;

  if (r[4] == wire::kErrorKind) {
    // An error reply is a refusal even when its code byte is 0: reporting
    // it as success would let a refused record count as written.
    return r[7] != 0 ? static_cast<std::int32_t>(r[7]) : rc::kBadReply;
  }
  if (command2 < 0x10) {
    if (flag == 0 && n >= 4) {
      std::size_t i = 7;
      for (; i <= n + 2; ++i) rec.replyText[i - 7] = static_cast<char>(r[i] < 0x20 ? 0x20 : r[i]);
      rec.replyText[i - 7] = '\0';
      rec.textValid = 1;
    }
    return rc::kOk;
  }
  if (flag != 0 && n == 9) {
    const std::uint32_t bits = static_cast<std::uint32_t>(r[7]) | (static_cast<std::uint32_t>(r[8]) << 8) |
                               (static_cast<std::uint32_t>(r[9]) << 16) | (static_cast<std::uint32_t>(r[10]) << 24);
    rec.replyValue = static_cast<double>(std::bit_cast<float>(bits));
    rec.valueValid = 1;
  }
  return rc::kOk;
}

}  // namespace isp
