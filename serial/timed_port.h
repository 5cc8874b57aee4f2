#pragma once
#include <memory>
#include <span>

#include "serial/clock.h"
#include "serial/serial_port.h"

// Windows read and write time-out meaning built on "wait until ready" plus
// non-blocking transfers, so the same logic serves every descriptor-based
// platform and runs under test against a scripted channel and a fake clock.
namespace isp {

// One non-blocking byte stream, as the operating system offers it.
class ByteChannel {
 public:
  enum class Wait { Ready, TimedOut, HungUp };
  virtual ~ByteChannel() = default;
  // An interrupted wait reports TimedOut: callers recompute from their deadline.
  virtual Wait waitReadable(int ms) = 0;
  virtual Wait waitWritable(int ms) = 0;
  // Bytes moved (> 0), 0 when nothing can move now, -1 when the peer is gone.
  virtual long readSome(std::span<std::uint8_t> bytes) = 0;
  virtual long writeSome(std::span<const std::uint8_t> bytes) = 0;
  virtual void discardInput() = 0;
  // The line's settings as the channel found them, in words; empty when unknown.
  virtual std::string found() const { return {}; }
};

// Reads up to bytes.size(): waits until start + readTotal for the first byte,
// and after any byte stops at readInterval of silence.
IoResult timedRead(ByteChannel& channel, MonotonicClock& clock, const LineSettings& line, std::span<std::uint8_t> bytes,
                   TimePoint start);

// Writes bytes, giving up at writePerByte * n + writeConstant.
IoResult timedWrite(ByteChannel& channel, MonotonicClock& clock, const LineSettings& line,
                    std::span<const std::uint8_t> bytes);

class TimedPort final : public SerialPort {
 public:
  TimedPort(std::unique_ptr<ByteChannel> channel, MonotonicClock& clock, LineSettings line);
  void discardInput() override { channel_->discardInput(); }
  IoResult write(std::span<const std::uint8_t> bytes) override;
  IoResult read(std::span<std::uint8_t> bytes) override;
  std::string settings() const override;

 private:
  std::unique_ptr<ByteChannel> channel_;
  MonotonicClock& clock_;
  LineSettings line_;
  TimePoint lineClearAt_{};
};

}  // namespace isp
