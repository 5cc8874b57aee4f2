#pragma once
#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>

namespace isp {

// What the stand-in, the benchmarks and the tools share. Their command
// line, on CLI11: --help
// prints the usage and ends the program with 0; anything not understood is
// one line on standard error and exit status 2; --opt=value and --opt value
// alike. Returns the status to exit with, or nothing to go on.
inline std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv, const std::string& usage = {}) {
  const std::string name = app.get_name();
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    std::cout << (usage.empty() ? app.help() : usage);
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << name << ": " << e.what() << " (see " << name << " --help)\n";
    return 2;
  }
}

}  // namespace isp
