#include "production/timestamp.h"

#include <cstdio>
#include <ctime>

namespace isp::production {

std::string timestamp(std::chrono::system_clock::time_point t, Zone zone) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
  std::tm parts{};
  if (zone == Zone::Utc)
    gmtime_r(&seconds, &parts);
  else
    localtime_r(&seconds, &parts);
  char text[40];
  const std::size_t n =
      std::strftime(text, sizeof text, zone == Zone::Utc ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &parts);
  std::snprintf(text + n, sizeof text - n, zone == Zone::Utc ? ".%03dZ" : ".%03d", static_cast<int>(ms));
  return text;
}

}  // namespace isp::production
