#include "serial/timed_port.h"

#include <algorithm>
#include <string>

namespace isp {

IoResult timedRead(ByteChannel& channel, MonotonicClock& clock, const LineSettings& line, std::span<std::uint8_t> bytes,
                   TimePoint start) {
  IoResult r;
  const Deadline total(start + line.readTotal);
  Deadline silence = total;
  while (r.count < bytes.size()) {
    const TimePoint now = clock.now();
    const Deadline until = r.count == 0 ? total : total.earlier(silence);
    if (until.passed(now)) break;
    const ByteChannel::Wait w = channel.waitReadable(until.waitMs(now));
    if (w == ByteChannel::Wait::TimedOut) continue;
    // Ready or hung up: bytes that came before a hang-up are still there.
    const long k = channel.readSome(bytes.subspan(r.count));
    if (k > 0) {
      r.count += static_cast<std::size_t>(k);
      silence = Deadline(clock.now() + line.readInterval);
    } else if (k < 0 || w == ByteChannel::Wait::HungUp) {
      r.disconnected = true;
      break;
    }
  }
  return r;
}

IoResult timedWrite(ByteChannel& channel, MonotonicClock& clock, const LineSettings& line,
                    std::span<const std::uint8_t> bytes) {
  IoResult r;
  const auto budget = line.writePerByte * static_cast<long>(bytes.size()) + line.writeConstant;
  const Deadline until = Deadline::after(clock, budget);
  while (r.count < bytes.size()) {
    const long k = channel.writeSome(bytes.subspan(r.count));
    if (k > 0) {
      r.count += static_cast<std::size_t>(k);
      continue;
    }
    if (k < 0) {
      r.disconnected = true;
      break;
    }
    const TimePoint now = clock.now();
    if (until.passed(now)) break;
    if (channel.waitWritable(until.waitMs(now)) == ByteChannel::Wait::HungUp) {
      r.disconnected = true;
      break;
    }
  }
  return r;
}

TimedPort::TimedPort(std::unique_ptr<ByteChannel> channel, MonotonicClock& clock, LineSettings line)
    : channel_(std::move(channel)), clock_(clock), line_(line) {}

IoResult TimedPort::write(std::span<const std::uint8_t> bytes) {
  const TimePoint start = std::max(clock_.now(), lineClearAt_);
  IoResult r = timedWrite(*channel_, clock_, line_, bytes);
  // The write returns once the bytes are in the kernel, long before they are
  // on the wire (138 bytes need about 72 ms at 19200 baud), and the device
  // cannot answer before it has them all. Windows' synchronous write returns
  // when the bytes have gone, so the reply's time-out starts then. We do not
  // wait for that moment (tcdrain is instant on a pty and unbounded on some
  // adapters); we note when the last byte will have left, and the next read
  // starts its clock there.
  lineClearAt_ = start + line_.lineTime(r.count);
  return r;
}

IoResult TimedPort::read(std::span<std::uint8_t> bytes) {
  const TimePoint start = std::max(clock_.now(), lineClearAt_);
  const IoResult r = timedRead(*channel_, clock_, line_, bytes, start);
  // An answer proves the request has arrived: the estimate must not carry
  // over into the next exchange when the far end is faster than the line.
  if (r.count > 0) lineClearAt_ = std::min(lineClearAt_, clock_.now());
  return r;
}

std::string TimedPort::settings() const {
  const auto ms = [](milliseconds d) { return std::to_string(d.count()) + " ms"; };
  std::string words = std::to_string(line_.baud) + " 8N1, raw, no flow control, DTR and RTS off; a reply read within " +
                      ms(line_.readTotal) + ", ending after " + ms(line_.readInterval) + " of silence; a write given " +
                      ms(line_.writePerByte) + " a byte + " + ms(line_.writeConstant);
  const std::string found = channel_->found();
  return found.empty() ? words : words + "; found " + found + ", put back at close";
}

}  // namespace isp
