#include "serial/posix/sysfs.h"

#include <filesystem>
#include <fstream>

namespace isp::sysfs {

namespace fs = std::filesystem;

namespace {

// The kernel's name of the tty behind a node, through any symbolic links.
std::string ttyName(const std::string& node) {
  std::error_code ec;
  const fs::path real = fs::canonical(node, ec);
  return ec ? fs::path(node).filename().string() : real.filename().string();
}

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

bool emptyUartSlot(const std::string& root, const std::string& node) {
  const std::string name = ttyName(node);
  if (!name.starts_with("ttyS")) return false;
  const std::string type = firstLine(fs::path(root) / "class/tty" / name / "type");
  return type == "0";
}

std::string usbAdapter(const std::string& root, const std::string& node) {
  std::error_code ec;
  fs::path dir = fs::canonical(fs::path(root) / "class/tty" / ttyName(node) / "device", ec);
  // The USB device is the first parent that carries vendor and product ids.
  for (int up = 0; !ec && up < 4 && !fs::exists(dir / "idVendor"); ++up) dir = dir.parent_path();
  if (ec || !fs::exists(dir / "idVendor")) return {};
  std::string text = "USB " + firstLine(dir / "idVendor") + ":" + firstLine(dir / "idProduct");
  for (const char* field : {"manufacturer", "product"})
    if (const std::string value = firstLine(dir / field); !value.empty()) text += ", " + value;
  if (const std::string serial = firstLine(dir / "serial"); !serial.empty()) text += ", serial " + serial;
  return text;
}

}  // namespace isp::sysfs
