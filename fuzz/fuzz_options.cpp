// Arbitrary command lines through isp-flash's option parser: NUL bytes split
// the input into arguments. What it accepts must be a consistent request.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"isp-flash"};
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string arg; args.size() < 16 && std::getline(in, arg, '\0');) args.push_back(arg);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());

  std::string error;
  const auto o = isp::cli::parse(static_cast<int>(argv.size()), argv.data(), &error);
  using Mode = isp::cli::Options::Mode;
  if (!o) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (o->intervalMs < 0 || o->intervalMs > 60000) std::abort();
  for (const auto& port : o->ports)
    if (port.name.empty() || port.number < 0 || port.number > 20) std::abort();
  if ((o->mode == Mode::Flash || o->mode == Mode::Identify) && o->ports.empty() && !o->allPorts) std::abort();
  if (o->mode == Mode::Flash && o->file.empty()) std::abort();
  return 0;
}
