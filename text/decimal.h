#pragma once
#include <charconv>
#include <optional>
#include <string_view>

namespace isp {

// A number as every option of our programs takes it: decimal digits alone,
// leading zeros allowed ("0010" is 10, never octal), no sign, no base
// ("0x10" is refused), from lo to hi. Nothing otherwise.
inline std::optional<long long> parseDecimal(std::string_view text, long long lo, long long hi) {
  long long value = 0;
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi) return std::nullopt;
  return value;
}

}  // namespace isp
