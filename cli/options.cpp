#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <charconv>
#include <utility>
#include <vector>

#include "link/protocol.h"
#include "resources/isp_version.h"
#include "serial/serial_port.h"

namespace isp::cli {

const char* const kVersion = "isp-flash " ISP_VERSION;

std::string helpText() {
  const std::string records = std::to_string(wire::kRecords), bytes = std::to_string(wire::kRecordSize);
  const std::string ports = std::to_string(kFirstPort) + " to " + std::to_string(kLastPort);
  return std::string(
             "usage: isp-flash --port PORT --file FILE [--interval MS] [--log FILE] [--report FILE] [--quiet]\n"
             "       isp-flash --station --port PORT --file FILE [--interval MS] [--log FILE] [--report FILE]\n"
             "       isp-flash --port PORT --identify\n"
             "       isp-flash --list\n"
             "       isp-flash --help | --version\n"
             "\n"
             "Writes a firmware file (") +
         records + " records of " + bytes +
         " bytes) into the device on PORT:\n"
         "identifies the device, then sends one record per interval.\n"
         "\n"
#ifdef _WIN32
         "  --port PORT     COMn or n (" +
         ports +
         "), or a device path such as \\\\.\\COM21\n"
#else
         "  --port PORT     COMn or n (" +
         ports +
         "), or a device path such as /dev/ttyUSB0\n"
         "                  COM1-COM4 = /dev/ttyS0-3, COM5-COM12 = /dev/ttyUSB0-7,\n"
         "                  COM13-COM20 = /dev/ttyACM0-7\n"
#endif
         "                  (--option=value works as well as --option value); several\n"
         "                  ports at once as a comma-separated list, or all: every\n"
         "                  port that can be had now; each device once\n"
         "  --file FILE     the firmware file; it is opened before the device is touched\n"
         "  --interval MS   time between records, default 250; 0 sends the next record\n"
         "                  as soon as the previous one is acknowledged\n"
         "  --log FILE      also append every log line, with a timestamp, to FILE\n"
         "  --report FILE   append a JSON line for every device attempted to FILE;\n"
         "                  it is opened first, and nothing is sent when it cannot be\n"
         "  --quiet         no progress display (it is shown only on a terminal anyway)\n"
         "  --identify      only ask the device who it is\n"
         "  --list          list the serial ports present, with their device nodes\n"
         "  --station       run until stopped, programming each device on the ports\n"
         "                  once as it is connected (again once it has gone and come back)\n"
         "\n"
         "Standard output gets the log lines; progress goes to standard error, and so\n"
         "does the reason for a failure when there is more to say than the log line.\n"
#ifdef _WIN32
         "Ctrl-C, Ctrl-Break and closing the console stop the transfer like the Stop\n"
         "button.\n"
#else
         "Ctrl-C, SIGTERM and SIGHUP stop the transfer like the Stop button.\n"
#endif
         "\n"
         "Exit status:\n"
         "  0    programming completed (or --identify: device in programming mode)\n"
         "       With several ports: 0 when every device completed, else the status\n"
         "       they share, 1 when theirs differ.\n"
         "  1    the transfer started and did not complete\n"
         "  2    usage error\n"
         "  3    the device was not identified in programming mode\n"
         "  4    the firmware file could not be opened or read\n"
         "  5    the report lacks a line (the devices did as hoped, else their status\n"
         "       stands), or could not be opened and nothing was sent\n"
#ifdef _WIN32
         "  130  stopped by Ctrl-C (149 Ctrl-Break, 129 the console closed)\n";
#else
         "  128 + the signal number: stopped (130 for Ctrl-C, 143 SIGTERM, 129 SIGHUP)\n";
#endif
}

namespace {

#ifdef _WIN32
constexpr const char* kPathMarks = "\\/";
#else
constexpr const char* kPathMarks = "/";
#endif

std::optional<int> number(const std::string& s) {
  int v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

// COMn, comn or n with n a port number; 0 for a device path; nothing otherwise.
std::optional<int> portNumber(const std::string& port) {
  if (port.find_first_of(kPathMarks) != std::string::npos) return 0;
  std::string digits = port;
  if (port.size() > 3 && std::toupper(static_cast<unsigned char>(port[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(port[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(port[2])) == 'M')
    digits = port.substr(3);
  const auto n = number(digits);
  if (!n || *n < kFirstPort || *n > kLastPort) return std::nullopt;
  return n;
}

}  // namespace

std::optional<Options> parse(int argc, const char* const* argv, std::string* error) {
  Options o;
  bool identify = false, list = false, help = false, version = false;
  std::string interval;
  auto fail = [&](const std::string& why) -> std::optional<Options> {
    *error = why;
    return std::nullopt;
  };

  CLI::App app;
  app.set_help_flag();  // the help is ours, and so are the words of a refusal
  app.allow_extras();
  app.allow_windows_style_options(false);  // "//./COM7" is a port, not an option
  std::vector<CLI::Option*> flags, values;
  for (auto [names, to] : {std::pair{"-h,--help", &help},
                           {"--version", &version},
                           {"--identify", &identify},
                           {"--list", &list},
                           {"-q,--quiet", &o.quiet},
                           {"--station", &o.station}})
    flags.push_back(app.add_flag(names, *to)->disable_flag_override());
  for (auto [name, to] : {std::pair{"--port", &o.port},
                          {"--file", &o.file},
                          {"--interval", &interval},
                          {"--log", &o.logFile},
                          {"--report", &o.reportFile}})
    values.push_back(app.add_option(name, *to)->expected(0, 1)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast));

  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (const auto eq = a.find('='); a.starts_with("--") && eq != std::string::npos)
      for (const CLI::Option* f : flags)
        if (f->check_lname(a.substr(2, eq - 2))) return fail(a.substr(0, eq) + " takes no value");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return fail(e.what());
  }
  if (!app.remaining().empty()) return fail("unknown argument: " + app.remaining().front());
  for (const CLI::Option* v : values)
    if (v->count() > 0 && v->as<std::string>().empty()) return fail(v->get_name() + " needs a value");
  if (!interval.empty()) {
    const auto ms = number(interval);
    if (!ms || *ms < 0 || *ms > 60000) return fail("--interval takes milliseconds from 0 to 60000");
    o.intervalMs = *ms;
  }

  if (help) {
    o.mode = Options::Mode::Help;
    return o;
  }
  if (version) {
    o.mode = Options::Mode::Version;
    return o;
  }
  if (list) {
    if (identify || !o.port.empty() || !o.file.empty()) return fail("--list takes no other option");
    o.mode = Options::Mode::List;
    return o;
  }
  if (o.port.empty()) return fail("--port is required");
  // One port, a comma-separated list of them, or "all".
  std::vector<std::string> names;
  if (o.port == "all") {
    o.allPorts = true;
  } else {
    // Every comma separates two names: "A,,B" and "A," lack one.
    for (std::size_t from = 0, comma;; from = comma + 1) {
      comma = o.port.find(',', from);
      names.push_back(o.port.substr(from, comma - from));
      if (comma == std::string::npos) break;
    }
  }
  for (const std::string& name : names)
    if (name.empty()) return fail("--port has an empty name in its list: " + o.port);
  for (const std::string& name : names) {
    const auto n = portNumber(name);
    if (!n)
      return fail("--port takes COM" + std::to_string(kFirstPort) + " to COM" + std::to_string(kLastPort) + ", " +
                  std::to_string(kFirstPort) + " to " + std::to_string(kLastPort) +
                  ", a device path, a comma-separated list of these or all: " + name);
    o.ports.push_back({name, *n});
  }
  o.portNumber = o.ports.size() == 1 ? o.ports[0].number : 0;
  if (identify) {
    if (!o.file.empty()) return fail("--identify takes no --file");
    if (o.station) return fail("--station takes no --identify");
    o.mode = Options::Mode::Identify;
    return o;
  }
  if (o.file.empty()) return fail("--file is required");
  return o;
}

}  // namespace isp::cli
