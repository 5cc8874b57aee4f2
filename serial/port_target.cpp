#include "serial/port_target.h"

#include <cctype>
#include <charconv>

#include "serial/serial_port.h"

namespace isp {

namespace {

#ifdef _WIN32
constexpr const char* kPathMarks = "\\/";
#else
constexpr const char* kPathMarks = "/";
#endif

}  // namespace

std::optional<int> portNumber(const std::string& port) {
  if (port.find_first_of(kPathMarks) != std::string::npos) return 0;
  const auto is = [&](std::size_t i, char upper) { return std::toupper(static_cast<unsigned char>(port[i])) == upper; };
  const bool com = port.size() > 3 && is(0, 'C') && is(1, 'O') && is(2, 'M');
  const std::string digits = com ? port.substr(3) : port;
  int n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || n < kFirstPort || n > kLastPort) return std::nullopt;
  return n;
}

}  // namespace isp
