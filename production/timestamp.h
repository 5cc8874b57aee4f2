#pragma once
#include <chrono>
#include <string>

namespace isp::production {

// A moment to the millisecond: "2026-12-07 05:58:01.123" in local time for
// the log file, "2026-12-07T02:58:01.123Z" in UTC for the production record.
enum class Zone { Local, Utc };
std::string timestamp(std::chrono::system_clock::time_point t, Zone zone);

}  // namespace isp::production
