#pragma once
#include <cstdint>

// Result codes of the device link. 1 to 255 are device error codes carried by
// an error reply; the rest are the link's own.
namespace isp::rc {

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kNotInProgrammingMode = -1;  // identification only
constexpr std::int32_t kDataFormatError = 2;
constexpr std::int32_t kCommandParameterError = 3;
constexpr std::int32_t kDeviceNotReady = 4;
constexpr std::int32_t kNoReply = 256;
constexpr std::int32_t kBadReply = 257;
constexpr std::int32_t kPortNotOpen = 258;
constexpr std::int32_t kOtherPortOpen = 259;  // port open only

}  // namespace isp::rc
