#pragma once
#include <cstdint>
#include <string>

#include "link/link.h"

namespace isp {

// Who the device said it is, its text as it came (code page 1251).
struct Identity {
  // 0: its text begins with "ISP", it is in programming mode; -1: it answered
  // otherwise; any other value: the exchange's own result.
  std::int32_t code = 0;
  std::string text{};  // the whole text, zero bytes skipped
  std::string name{};  // the text after its first four bytes
};

// Asks the device on `port` who it is.
Identity identify(Link& link, const PortTarget& port, int address);

}  // namespace isp
