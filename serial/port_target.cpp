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

PortTarget PortTarget::com(int n) { return {n == 0 ? std::string() : comName(n), n}; }

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

// Split here rather than by an option library's delimiter, which may drop
// an empty last name without a word: "A," would quietly be "A".
std::vector<PortTarget> portList(const std::string& list, std::string* error) {
  std::vector<PortTarget> ports;
  if (list == kEveryPort) return ports;
  for (std::size_t from = 0, comma = 0; comma != std::string::npos; from = comma + 1) {
    comma = list.find(',', from);
    const std::string name = list.substr(from, comma - from);
    const auto n = portNumber(name);
    if (name.empty()) *error = "--port has an empty name in its list: " + list;
    if (!name.empty() && !n)
      *error = "--port takes COM" + std::to_string(kFirstPort) + " to COM" + std::to_string(kLastPort) + ", " +
               std::to_string(kFirstPort) + " to " + std::to_string(kLastPort) +
               ", a device path, a comma-separated list of these or " + std::string(kEveryPort) + ": " + name;
    if (!error->empty()) return {};
    ports.push_back({name, *n});
  }
  return ports;
}

}  // namespace isp
