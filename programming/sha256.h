#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace isp {

// SHA-256 of bytes, as 64 lower-case hex digits: the image's fingerprint in
// the production record.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace isp
