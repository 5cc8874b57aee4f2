#pragma once
#include <array>
#include <cstddef>
#include <string_view>

// Words with a constant in them, put together when the program is compiled:
// a text never states a number of its own beside the one the code uses.
namespace isp {

namespace detail {

template <long long N>
constexpr auto digits() {
  static_assert(N >= 0, "a count or a time, never negative");
  constexpr std::size_t size = [] {
    std::size_t k = 1;
    for (long long n = N; n >= 10; n /= 10) ++k;
    return k;
  }();
  std::array<char, size> d{};
  long long n = N;
  for (std::size_t i = size; i-- > 0; n /= 10) d[i] = static_cast<char>('0' + n % 10);
  return d;
}

template <const std::string_view&... Parts>
constexpr auto joined() {
  std::array<char, (Parts.size() + ... + 0)> all{};
  std::size_t at = 0;
  for (std::string_view part : {Parts...})
    for (char c : part) all[at++] = c;
  return all;
}

template <long long N>
inline constexpr auto kDigits = digits<N>();
template <const std::string_view&... Parts>
inline constexpr auto kJoined = joined<Parts...>();

}  // namespace detail

// N in decimal digits.
template <long long N>
inline constexpr std::string_view decimalText{detail::kDigits<N>.data(), detail::kDigits<N>.size()};

// The parts one after another.
template <const std::string_view&... Parts>
inline constexpr std::string_view joinedText{detail::kJoined<Parts...>.data(), detail::kJoined<Parts...>.size()};

}  // namespace isp
