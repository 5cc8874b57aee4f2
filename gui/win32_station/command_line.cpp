#include "gui/win32_station/command_line.h"

#include "production/station_words.h"
#include "resources/isp_version.h"
#include "serial/port_target.h"
#include "text/escape.h"

namespace isp::win32 {

namespace {

constexpr const char* kUsage =
    "isp-station.exe [--file FILE] [--port LIST] [--report FILE] [--interval MS] [--start]\n\n"
    "  --file FILE    файл программы\n"
    "  --port LIST    порты через запятую (COM5, 5), или all\n"
    "  --report FILE  файл отчёта\n"
    "  --interval MS  мс между блоками, 0-60000\n"
    "  --start        начать сразу\n"
    "  --help, --version";

CommandLine ending(int status, std::string message) { return {false, status, std::move(message)}; }

// A wrong command line: what was given is repeated with its control
// characters escaped, the usage after it when it helps.
CommandLine refused(const std::string& why, bool usage = false) {
  return ending(2, escapeControls("isp-station: " + why) + (usage ? std::string("\n\n") + kUsage : ""));
}

}  // namespace

CommandLine readCommandLine(const std::vector<std::string>& args, StationSettings& s) {
  CommandLine out;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i], value;
    const std::size_t eq = name.find('=');
    const bool given = name.starts_with("--") && eq != std::string::npos;  // --file=F
    if (given) value = name.substr(eq + 1), name.resize(eq);
    if (!given && (name == "--file" || name == "--port" || name == "--report" || name == "--interval")) {
      if (i + 1 == args.size()) return refused(name + " needs a value", true);
      value = args[++i];
    }
    if (name == "--help" || name == "-h") return ending(0, std::string(production::words::kAbout) + "\n\n" + kUsage);
    if (name == "--version") return ending(0, "isp-station " ISP_VERSION_FULL);
    if (name == "--start") {
      out.start = true;
    } else if (name == "--file") {
      s.file = value;
    } else if (name == "--report") {
      s.report = value;
      s.problems.erase(production::Setting::Report);
    } else if (name == "--port") {
      std::string error;
      const std::vector<PortTarget> targets = portList(value, &error);
      if (!error.empty()) return refused(error);
      s.ports.clear();
      for (const PortTarget& t : targets) s.ports.push_back(t.name);
      if (targets.empty()) s.ports.push_back("all");
      s.problems.erase(production::Setting::Ports);
    } else if (name == "--interval") {
      std::string error;
      const auto ms = production::parseInterval(value, &error);
      if (!ms) return refused(error);
      s.intervalMs = *ms;
      s.problems.erase(production::Setting::Interval);
    } else {
      return refused("unknown option " + name, true);
    }
  }
  return out;
}

}  // namespace isp::win32
