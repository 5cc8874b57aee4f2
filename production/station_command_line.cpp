#include "production/station_command_line.h"

#include "production/interval.h"
#include "production/line_setup.h"
#include "production/os.h"
#include "production/station_words.h"
#include "resources/isp_version.h"
#include "serial/port_target.h"
#include "text/escape.h"

namespace isp::production {

namespace {

std::string usage() {
  return "isp-station [--file FILE] [--port LIST] [--report FILE] [--interval MS] [--start]\n"
         "isp-station --line FILE [--start]\n\n"
         "  --line FILE    линия, настроенная инженером: программа, её SHA-256, порты,\n"
         "                 интервал и отчёт из файла линии, который пользователь не может\n"
         "                 изменить; настройка не меняется и не сохраняется\n"
         "  --file FILE    файл программы\n"
         "  --port LIST    порты через запятую (COM5, 5, путь к устройству), или all\n"
         "  --report FILE  файл отчёта\n"
         "  --interval MS  мс между блоками, 0-" +
         std::to_string(kMaxIntervalMs) + " (по умолчанию " + std::to_string(kDefaultIntervalMs) +
         ")\n"
         "  --publish URL  публиковать отчёт в брокер MQTT: mqtt://HOST[:PORT] или mqtts://\n"
         "  --publish-ca FILE    свой удостоверяющий центр для mqtts://\n"
         "  --publish-auth FILE  пользователь и пароль брокера, две строки (файл 0600)\n"
         "  --station-name NAME  имя станции в темах isp/NAME/... (по умолчанию имя компьютера)\n"
         "  --start        начать сразу\n"
         "  --help, --version\n";
}

StationCommandLine ending(int status, std::string message) { return {.exit = status, .message = std::move(message)}; }

// What was given is repeated with its control characters escaped, the
// usage after it when it helps.
StationCommandLine refused(const std::string& why, bool withUsage = false) {
  return ending(2, escapeControls("isp-station: " + why) + (withUsage ? "\n\n" + usage() : "\n"));
}

}  // namespace

StationCommandLine readStationCommandLine(const std::vector<std::string>& args, KeptSettings& s) {
  StationCommandLine out;
  bool file = false, ports = false;
  std::string lineFile, setUpBy;  // --line, and an option that sets up a line itself
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i], value;
    const std::size_t eq = name.find('=');
    const bool inline_ = name.starts_with("--") && eq != std::string::npos;  // --file=F
    if (inline_) value = name.substr(eq + 1), name.resize(eq);
    const bool takesValue = name == "--file" || name == "--port" || name == "--report" || name == "--interval" ||
                            name == "--line" || name == "--publish" || name == "--publish-ca" ||
                            name == "--publish-auth" || name == "--station-name";
    if (takesValue && !inline_) {
      if (i + 1 == args.size()) return refused(name + " needs a value", true);
      value = args[++i];
    }
    if (!takesValue && inline_) return refused(name + " takes no value", true);
    if (name == "--help" || name == "-h") return ending(0, std::string(words::kAbout) + "\n\n" + usage());
    if (name == "--version") return ending(0, "isp-station " ISP_VERSION_FULL "\n");
    // The line file's set-up: only the secrets for its broker are the operator's.
    if (takesValue && name != "--line" && name != "--publish-ca" && name != "--publish-auth") setUpBy = name;
    if (name == "--start") {
      out.start = true;
    } else if (name == "--line") {
      lineFile = value;
    } else if (name == "--file") {
      s.file = value;
      file = true;
    } else if (name == "--report") {
      s.report = {{}, value};
      s.problems.erase(Setting::Report);
    } else if (name == "--port") {
      std::string error;
      const std::vector<PortTarget> targets = portList(value, &error);
      if (!error.empty()) return refused(error);
      s.ports.clear();
      for (const PortTarget& t : targets) s.ports.push_back(stationPortName(t.name));
      if (targets.empty()) s.ports.push_back("all");
      s.problems.erase(Setting::Ports);
      ports = true;
    } else if (name == "--publish") {
      s.publish.url = value;
    } else if (name == "--publish-ca") {
      s.publish.caFile = value;
    } else if (name == "--publish-auth") {
      s.publish.authFile = value;
    } else if (name == "--station-name") {
      s.publish.station = value;
    } else if (name == "--interval") {
      std::string error;
      const auto ms = parseInterval(value, &error);
      if (!ms) return refused(error);
      s.intervalMs = *ms;
      s.problems.erase(Setting::Interval);
    } else {
      return refused("unknown option " + name, true);
    }
  }
  out.wholeSetUp = file && ports;
  if (lineFile.empty()) return out;
  if (!setUpBy.empty()) return refused(setUpBy + " excludes --line", true);
  std::string why;
  out.line = readLineFile(lineFile, &why);
  if (!out.line) return refused(why);
  // Operator mode: a line the user running it could change is no line.
  if (why = changeableByUs(lineFile); !why.empty())
    return refused("operator mode needs a line file you cannot change: " + why);
  out.wholeSetUp = true;
  return out;
}

}  // namespace isp::production
