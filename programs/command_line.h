#pragma once
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "text/escape.h"

namespace isp {

// What the stand-in, the benchmarks and the tools share. Their command
// line, on CLI11: --help prints the usage and ends the program with 0, or
// with 1 and why on standard error when it cannot be written; anything not
// understood is one line on standard error, its control characters escaped
// (CLI11 repeats the value it was given), and exit status 2; --opt=value
// and --opt value alike. Returns the status to exit with, or nothing to go on.
inline std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv, const std::string& usage = {}) {
  const std::string name = app.get_name();
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    const std::string text = usage.empty() ? app.help() : usage;
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) return 0;
    std::fprintf(stderr, "%s: standard output: %s\n", name.c_str(), std::strerror(errno ? errno : EIO));
    return 1;
  } catch (const CLI::ParseError& e) {
    std::cerr << escapeControls(name + ": " + e.what() + " (see " + name + " --help)") << "\n";
    return 2;
  }
}

}  // namespace isp
