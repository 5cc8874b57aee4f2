#include "link/link.h"

#include <algorithm>
#include <cassert>

#include "link/result_codes.h"

namespace isp {

std::int32_t Link::open(const PortTarget& port) {
  if (port_ && openPort_ == port) return rc::kOk;
  close();
  if (port.name.empty() || (port.number != 0 && (port.number < kFirstPort || port.number > kLastPort))) {
    portStatus_ = {SerialError::NotFound, "no port is selected"};
    return rc::kPortNotOpen;
  }
  OpenResult opened = platform_.open(port);
  portStatus_ = opened.status;
  if (!opened.port) return rc::kPortNotOpen;
  port_ = std::move(opened.port);
  openPort_ = port;
  return rc::kOk;
}

void Link::close() {
  port_.reset();
  openPort_ = {};
}

Reply Link::exchange(const PortTarget& port, int address, const wire::Request& request,
                     std::span<const std::uint8_t> payload) {
  assert(payload.size() <= wire::kMaxPayload);
  payload = payload.first(std::min(payload.size(), wire::kMaxPayload));
  const auto addr = static_cast<std::uint8_t>(address);
  const std::size_t length = wire::build(request_, addr, request.command, request.command2, request.flag, payload);
  portStatus_ = {};
  Reply reply;
  if ((reply.code = open(port)) != rc::kOk) return reply;

  // One request, one reply: nothing valid can be waiting now. A reply that
  // came after its time-out would otherwise be taken for this one's, and
  // every later exchange would read its predecessor's reply.
  port_->discardInput();
  bool gone = port_->write(std::span(request_).first(length)).disconnected;
  if (!gone) gone = port_->read(std::span(reply.frame).first(wire::kHeaderSize)).disconnected;
  const std::size_t n = wire::lengthField(reply.frame.data());
  if (!gone && n > 0 && n < wire::kReplyCapacity)
    gone = port_->read(std::span(reply.frame).subspan(wire::kHeaderSize, n)).disconnected;
  // A device that is gone stays gone: close the port so that the next
  // exchange opens it afresh instead of timing out on a dead descriptor.
  if (gone) {
    portStatus_ = platform_.whyGone(port);
    close();
  }
  if (n == 0) {
    reply.code = rc::kNoReply;
  } else if (n >= wire::kReplyCapacity) {
    reply.code = rc::kBadReply;  // a length the buffer cannot hold; its body was not read
  } else {
    reply.length = n + wire::kHeaderSize;
    reply.code = validate(reply, addr, request);
  }
  return reply;
}

std::int32_t Link::validate(const Reply& reply, std::uint8_t address, const wire::Request& request) const {
  const auto& r = reply.frame;
  const std::size_t n = reply.length - wire::kHeaderSize;
  if (wire::checksum(std::span(r).first(n + 3)) != r[n + 3]) return rc::kBadReply;
  if (r[0] != 0x00 || r[1] != address || r[5] != request.command2 || r[6] != request.flag) return rc::kBadReply;
  // An error reply is a refusal even when its code byte is 0: reporting it
  // as success would let a refused record count as written.
  if (r[4] == wire::kErrorKind) return r[7] != 0 ? static_cast<std::int32_t>(r[7]) : rc::kBadReply;
  return rc::kOk;
}

}  // namespace isp
