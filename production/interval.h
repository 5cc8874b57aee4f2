#pragma once
#include <optional>
#include <string>

#include "programming/transfer.h"

// The time between records as the programs of the line take it; its
// default and limits are the transfer core's.
namespace isp::production {

using isp::kDefaultIntervalMs;
using isp::kMaxIntervalMs;

// --interval's value: milliseconds in decimal, 0 to kMaxIntervalMs.
// Nothing, with the words in *error.
std::optional<int> parseInterval(const std::string& text, std::string* error);

}  // namespace isp::production
