#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

// Wire format shared by the program and the device:
//   00 addr N(lo) N(hi) cmd cmd2 flag data... checksum
// N counts every byte after the 4-byte header; the checksum is the plain
// 8-bit sum of all bytes before it.
namespace isp::frame {

constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kOverhead = 8;  // header, three command bytes, checksum
constexpr std::uint8_t kErrorKind = 0x40;

constexpr std::uint8_t kIdentifyCommand = 0x10;
constexpr std::uint8_t kIdentifyCommand2 = 0x00;
constexpr std::uint8_t kRecordCommand = 0x30;
constexpr std::uint8_t kRecordCommand2 = 0xD0;

std::uint8_t checksum(std::span<const std::uint8_t> bytes);

// Writes a whole frame into out (which must hold payload.size() + 8 bytes) and
// returns its length.
std::size_t build(std::span<std::uint8_t> out, std::uint8_t address, std::uint8_t command,
                  std::uint8_t command2, std::uint8_t flag, std::span<const std::uint8_t> payload);

inline std::size_t lengthField(const std::uint8_t* header) {
  return static_cast<std::size_t>(header[2]) | (static_cast<std::size_t>(header[3]) << 8);
}

}  // namespace isp::frame
