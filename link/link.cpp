#include "link/link.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <string>

#include "link/result_codes.h"
#include "link/trace.h"

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
  Trace* t = trace();
  if (!opened.port) {
    if (t) t->say(port.name, "not opened: " + portStatus_.why);
    return rc::kPortNotOpen;
  }
  port_ = std::move(opened.port);
  openPort_ = port;
  if (t) t->say(port.name, "opened " + platformName(port) + ": " + port_->settings());
  return rc::kOk;
}

std::string Link::platformName(const PortTarget& port) const {
  const Port p = platform_.port(port);
  return p.node.empty() ? p.name : p.node;
}

void Link::close() {
  if (Trace* t = trace(); t && port_) t->say(openPort_.name, "closed");
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
  Trace* t = trace();
  const IoResult written = port_->write(std::span(request_).first(length));
  const double sent = t ? t->ms() : 0;  // the request handed over (its bytes take their line time)
  bool gone = written.disconnected;
  IoResult header, body;
  if (!gone) gone = (header = port_->read(std::span(reply.frame).first(wire::kHeaderSize))).disconnected;
  const std::size_t n = wire::lengthField(reply.frame.data());
  if (!gone && n > 0 && n < wire::kReplyCapacity)
    gone = (body = port_->read(std::span(reply.frame).subspan(wire::kHeaderSize, n))).disconnected;
  if (t)
    traceExchange(*t, port.name, std::span(request_).first(length), written.count, sent, reply.frame,
                  header.count < wire::kHeaderSize ? header.count : header.count + body.count);
  // A device that is gone stays gone: close the port so that the next
  // exchange opens it afresh instead of timing out on a dead descriptor.
  if (gone) {
    portStatus_ = platform_.whyGone(port);
    if (t) t->say(port.name, "gone: " + portStatus_.why);
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

// The request as sent and the reply as it came, with how long it took:
// late, short, long or damaged, each said so.
void Link::traceExchange(Trace& t, const std::string& port, std::span<const std::uint8_t> request, std::size_t written,
                         double sent, std::span<const std::uint8_t> frame, std::size_t got) {
  t.say(port, "request " + hexBytes(request) + ": " + frameWords(request) +
                  (written < request.size() ? "; only " + std::to_string(written) + " bytes left in time" : ""));
  char waited[32];
  std::snprintf(waited, sizeof waited, "%.1f ms", t.ms() - sent);
  const std::size_t n = wire::lengthField(frame.data());
  const std::span<const std::uint8_t> bytes = frame.first(got);
  if (got == 0) return t.say(port, std::string("no reply in ") + waited + " since the request went out");
  if (got < wire::kHeaderSize)
    return t.say(
        port, "short reply: " + std::to_string(got) + " of the 4 header bytes in " + waited + ": " + hexBytes(bytes));
  if (n >= wire::kReplyCapacity)
    return t.say(port, "reply of length " + std::to_string(n) +
                           ", more than a reply holds; its body was not read: " + hexBytes(bytes));
  if (got < n + wire::kHeaderSize)
    return t.say(port, "short reply: " + std::to_string(got) + " of " + std::to_string(n + wire::kHeaderSize) +
                           " bytes in " + waited + ": " + hexBytes(bytes));
  t.say(port, std::string("reply after ") + waited + ": " + hexBytes(bytes) + ": " + frameWords(bytes));
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
