#include "serial/serial_port.h"

namespace isp {

std::string comName(int port) { return "COM" + std::to_string(port); }

std::string adapterWords(const Adapter& a) {
  std::string text;
  if (!a.vendorId.empty() || !a.productId.empty()) text = "USB " + a.vendorId + ":" + a.productId;
  for (const std::string* part : {&a.maker, &a.product})
    if (!part->empty()) text += (text.empty() ? "" : ", ") + *part;
  if (!a.serial.empty()) text += (text.empty() ? "serial " : ", serial ") + a.serial;
  return text.empty() ? a.device : text;
}

std::string describe(const Port& port) {
  const std::string adapter = adapterWords(port.adapter);
  return adapter.empty() ? port.node : port.node + ", " + adapter;
}

namespace {
// What the user calls the port, with the node behind it where that says
// more ("COM5 (/dev/ttyUSB0)", "5 (\\.\COM5)"; "\\.\COM5" says nothing more
// than "COM5").
std::string label(const Port& p) {
  return p.node == p.name || p.node.ends_with("\\" + p.name) ? p.name : p.name + " (" + p.node + ")";
}

// "COM12 is /dev/ttyUSB7, which does not exist", or "<path> does not exist".
std::string nodeWhich(const Port& p, const std::string& what) {
  return p.name == p.node ? p.node + " " + what : p.name + " is " + p.node + ", which " + what;
}
}  // namespace

namespace {
std::string portWords(const Port& port, SerialError error, const std::string& systemText) {
  switch (error) {
    case SerialError::None: return {};
    case SerialError::NotFound:
      if (port.node.empty()) return port.name + " has no device on this machine";
      return nodeWhich(port, "does not exist");
    case SerialError::NotASerialPort: return nodeWhich(port, "is not a serial port");
    case SerialError::Busy: return label(port) + " is in use by another program";
    case SerialError::Unplugged: return label(port) + ": the adapter was unplugged";
    default: return label(port) + ": " + systemText;
  }
}
}  // namespace

PortStatus portStatus(const Port& port, SerialError error, const std::string& systemText, int code) {
  return {.error = error, .why = portWords(port, error, systemText), .code = code};
}

std::vector<TablePort> comTable(SerialPlatform& platform) {
  std::vector<TablePort> table;
  for (int n = kFirstPort; n <= kLastPort; ++n) {
    const PortTarget target = PortTarget::com(n);
    table.push_back({target, platform.check(target)});
  }
  return table;
}

Duration LineSettings::lineTime(std::size_t bytes) const {
  const auto bits = static_cast<long long>(bytes) * kBitsPerByte;
  return std::chrono::duration_cast<Duration>(std::chrono::microseconds(bits * 1'000'000 / baud));
}

}  // namespace isp
