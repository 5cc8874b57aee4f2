#include "production/interval.h"

#include "text/decimal.h"

namespace isp::production {

std::optional<int> parseInterval(const std::string& text, std::string* error) {
  const auto ms = parseDecimal(text, 0, kMaxIntervalMs);
  if (!ms)
    *error =
        "--interval takes milliseconds from 0 to " + std::to_string(kMaxIntervalMs) + ", in decimal digits: " + text;
  return ms ? std::optional<int>(static_cast<int>(*ms)) : std::nullopt;
}

}  // namespace isp::production
