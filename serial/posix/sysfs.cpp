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

Adapter usbAdapter(const std::string& root, const std::string& node) {
  std::error_code ec;
  fs::path dir = fs::canonical(fs::path(root) / "class/tty" / ttyName(node) / "device", ec);
  // The USB device is the first parent that carries vendor and product ids;
  // its folder is named for where it is plugged in ("1-1.4": bus 1, port 1, then 4).
  for (int up = 0; !ec && up < 4 && !fs::exists(dir / "idVendor"); ++up) dir = dir.parent_path();
  if (ec || !fs::exists(dir / "idVendor")) return {};
  return {.vendorId = firstLine(dir / "idVendor"),
          .productId = firstLine(dir / "idProduct"),
          .maker = firstLine(dir / "manufacturer"),
          .product = firstLine(dir / "product"),
          .serial = firstLine(dir / "serial"),
          .usbPath = dir.filename().string()};
}

}  // namespace isp::sysfs
