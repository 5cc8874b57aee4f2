#pragma once
#include <optional>
#include <string>

// The time between records, the same for every program that takes one.
namespace isp::production {

inline constexpr int kDefaultIntervalMs = 250;
inline constexpr int kMaxIntervalMs = 60000;

// --interval's value: milliseconds in decimal, 0 to kMaxIntervalMs.
// Nothing, with the words in *error.
std::optional<int> parseInterval(const std::string& text, std::string* error);

}  // namespace isp::production
