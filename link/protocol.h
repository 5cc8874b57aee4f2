#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

// The wire contract between the program and the device. Every frame is
//   00 addr N(lo) N(hi) cmd cmd2 flag data... checksum
// N counts every byte after the 4-byte header; the checksum is the plain
// 8-bit sum of all bytes before it.
namespace isp::wire {

constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kOverhead = 8;  // header, three command bytes, checksum
constexpr std::uint8_t kErrorKind = 0x40;
// A reply's length field is below this; a request's payload at most kMaxPayload.
constexpr std::size_t kReplyCapacity = 256;
constexpr std::size_t kMaxPayload = 1024;

constexpr std::uint8_t kIdentifyCommand = 0x10;
constexpr std::uint8_t kIdentifyCommand2 = 0x00;
constexpr std::uint8_t kRecordCommand = 0x30;
constexpr std::uint8_t kRecordCommand2 = 0xD0;

// The firmware image: a header record and 512 data records of 130 bytes.
constexpr std::size_t kRecordSize = 130;
constexpr int kDataRecords = 512;
constexpr int kRecords = kDataRecords + 1;
constexpr std::size_t kImageSize = kRecordSize * kRecords;  // 66690

// A request as the program sends it, without its payload.
struct Request {
  std::uint8_t command;
  std::uint8_t command2;
  std::uint8_t flag;

  static constexpr Request identify() { return {kIdentifyCommand, kIdentifyCommand2, 0}; }
  // Record 0 is the header record (flag 0), 1 to 512 the data records (flag 1).
  static constexpr Request record(int k) {
    return {kRecordCommand, kRecordCommand2, static_cast<std::uint8_t>(k == 0 ? 0 : 1)};
  }
};

std::uint8_t checksum(std::span<const std::uint8_t> bytes);

// Writes a whole frame into out (which must hold payload.size() + 8 bytes) and
// returns its length.
std::size_t build(std::span<std::uint8_t> out, std::uint8_t address, std::uint8_t command, std::uint8_t command2,
                  std::uint8_t flag, std::span<const std::uint8_t> payload);

inline std::size_t lengthField(const std::uint8_t* header) {
  return static_cast<std::size_t>(header[2]) | (static_cast<std::size_t>(header[3]) << 8);
}

}  // namespace isp::wire
