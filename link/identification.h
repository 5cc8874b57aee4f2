#pragma once
#include <cstdint>

#include "link/link.h"

namespace isp {

// Asks the device on `port` who it is. 0: its text begins with "ISP", it is
// in programming mode; -1: it answered otherwise; any other value: the
// exchange's own result. On an answer, rec.identityText holds the whole text
// and rec.deviceName the text after its first four bytes (zero bytes skipped).
std::int32_t identify(Link& link, int port, int address);

}  // namespace isp
