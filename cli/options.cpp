#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <vector>

#include "link/protocol.h"
#include "production/os.h"
#include "production/port_listing.h"
#include "resources/isp_version.h"
#include "serial/serial_port.h"
#include "text/escape.h"

namespace isp::cli {

const char* const kVersion = "isp-flash " ISP_VERSION;

std::string helpText() {
  const std::string records = std::to_string(wire::kRecords), bytes = std::to_string(wire::kRecordSize);
  const std::string ports = std::to_string(kFirstPort) + " to " + std::to_string(kLastPort);
  const std::string every(kEveryPort);
  return std::string(
             "usage: isp-flash --port PORT --file FILE [--interval MS] [--log FILE] [--report FILE] [--quiet]\n"
             "       isp-flash --station --port PORT --file FILE [--interval MS] [--log FILE] [--report FILE]\n"
             "       isp-flash [--station] --line FILE [--log FILE] [--quiet]\n"
             "       isp-flash --port PORT --identify\n"
             "       isp-flash --list [--json]\n"
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
         "                  ports at once as a comma-separated list, or " +
         every +
         " (lower case):\n"
         "                  every port the system lists now, busy or not, and with\n"
         "                  --station each port that appears later too; each device once\n"
         "  --file FILE     the firmware file; it is opened before the device is touched\n"
         "  --interval MS   time between records, 0 to " +
         std::to_string(production::kMaxIntervalMs) + ", default " + std::to_string(production::kDefaultIntervalMs) +
         ";\n"
         "                  0 sends the next record as soon as the previous one is\n"
         "                  acknowledged\n"
         "  --log FILE      also append every log line, with a timestamp, to FILE\n"
         "  --trace FILE    append a line to FILE for every event on the wire: the port\n"
         "                  opened with its settings, each request and reply in hex with\n"
         "                  what its header says, a time-out, the port closed or gone\n"
         "  --report FILE   append a JSON line for every device attempted to FILE;\n"
         "                  it is opened first, and nothing is sent when it cannot be\n"
         "  --line FILE     operator mode: the firmware, its SHA-256, the ports, the\n"
         "                  interval and the report from a line file its engineer wrote\n"
         "                  (JSON), in place of --file, --port, --interval and --report;\n"
         "                  refused when you could change the file or a folder on its\n"
         "                  way, and nothing is sent when the firmware's sum is not the\n"
         "                  line's; each report line names the line\n"
         "  --publish URL   also publish each report line to an MQTT broker\n"
         "                  (mqtt://HOST[:PORT] or mqtts://HOST[:PORT]) on\n"
         "                  isp/NAME/record, once it is on disk; needs --report, which\n"
         "                  keeps what the broker has not taken for the next run\n"
         "  --publish-ca FILE    the authority that signed the broker's certificate\n"
         "  --publish-auth FILE  the broker's user and password, two lines (mode 0600)\n"
         "  --station-name NAME  the station's NAME in the topics (default: the host's)\n"
         "  --quiet         no progress display (it is shown only on a terminal anyway)\n"
         "  --identify      only ask the device who it is\n"
         "  --list          list the serial ports present, with their device nodes\n"
         "  --json          with --list: one JSON array, each port's name, node, adapter\n"
         "                  (vendor_id, product_id, manufacturer, product, serial,\n"
         "                  usb_path), available, and why not\n"
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
         "  5    the report, the log or the table lacks a line (the devices did as\n"
         "       hoped, else their status stands), or the report could not be opened\n"
         "       and nothing was sent\n"
#ifdef _WIN32
         "  130  stopped by Ctrl-C (149 Ctrl-Break, 129 the console closed)\n";
#else
         "  128 + the signal number: stopped (130 for Ctrl-C, 143 SIGTERM, 129 SIGHUP)\n";
#endif
}

namespace {

// The record is the outbox: no publishing without one. The station's name
// is the host's unless given.
void checkPublishing(Options& o, std::string* error) {
  production::PublishSetup& p = o.publish;
  if (p.url.empty()) {
    if (!p.caFile.empty() || !p.authFile.empty() || !p.station.empty())
      *error = (!p.caFile.empty()     ? "--publish-ca"
                : !p.authFile.empty() ? "--publish-auth"
                                      : "--station-name") +
               std::string(" needs --publish");
    return;
  }
  if (o.reportFile.empty()) {
    *error =
        "--publish needs --report: the record is what is published, and what waits while the broker cannot be reached";
    return;
  }
  if (!production::parseBroker(p.url, error)) return;
  if (p.station.empty()) p.station = production::hostName();
  production::goodStationName(p.station, error);
}

}  // namespace

std::optional<Options> parse(int argc, const char* const* argv, std::string* error) {
  Options o;
  bool identify = false, list = false, help = false, version = false;
  std::string ports, interval;
  CLI::App app;
  app.set_help_flag();                     // the help text is ours
  app.allow_windows_style_options(false);  // "//./COM7" is a port, not an option
  const auto flag = [&](const char* names, bool& to) { return app.add_flag(names, to)->disable_flag_override(); };
  // Given with no value, an option is refused here: CLI11 would take the
  // next argument as its value, or ignore "--interval=".
  std::vector<CLI::Option*> values;
  const auto value = [&](const char* name, auto& to) {
    values.push_back(app.add_option(name, to)->expected(0, 1)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast));
    return values.back();
  };
  flag("-h,--help", help);
  flag("--version", version);
  CLI::Option* listing = flag("--list", list);
  flag("--json", o.json)->needs(listing);
  CLI::Option* asking = flag("--identify", identify);
  CLI::Option* station = flag("--station", o.station);
  flag("-q,--quiet", o.quiet);
  CLI::Option* port = value("--port", ports);
  CLI::Option* file = value("--file", o.file);
  CLI::Option* pace = value("--interval", interval);
  value("--log", o.logFile);
  value("--trace", o.traceFile);
  CLI::Option* report = value("--report", o.reportFile);
  CLI::Option* line = value("--line", o.lineFile);
  CLI::Option* publish = value("--publish", o.publish.url);
  CLI::Option* ca = value("--publish-ca", o.publish.caFile);
  CLI::Option* auth = value("--publish-auth", o.publish.authFile);
  CLI::Option* name = value("--station-name", o.publish.station);
  line->excludes(port)->excludes(file)->excludes(pace)->excludes(report)->excludes(listing)->excludes(asking);
  // A line file says where its record is published; the secrets stay the operator's.
  line->excludes(publish)->excludes(name);
  for (CLI::Option* p : {publish, ca, auth, name}) p->excludes(listing)->excludes(asking);
  listing->excludes(asking)->excludes(port)->excludes(file)->excludes(station);
  asking->excludes(file)->excludes(station);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    *error = e.what();
    // CLI11 names a flag given a value by its bare name, in its own words.
    if (const auto at = error->find(" was given a disallowed flag override"); at != std::string::npos)
      *error = "--" + error->substr(0, at) + " takes no value";
    return std::nullopt;
  }
  for (const CLI::Option* v : values)
    if (v->count() > 0 && v->as<std::string>().empty()) *error = v->get_name() + " needs a value";
  o.mode = help       ? Options::Mode::Help
           : version  ? Options::Mode::Version
           : list     ? Options::Mode::List
           : identify ? Options::Mode::Identify
                      : Options::Mode::Flash;
  if (error->empty() && (help || version || list)) return o;
  if (error->empty() && pace->count() > 0)
    o.intervalMs = production::parseInterval(interval, error).value_or(o.intervalMs);
  if (error->empty() && !o.lineFile.empty()) return o;  // the rest comes from the line
  if (error->empty()) checkPublishing(o, error);
  if (error->empty() && ports.empty()) *error = "--port is required";
  if (error->empty()) o.ports = portList(ports, error);
  o.allPorts = ports == kEveryPort;
  if (error->empty() && !identify && o.file.empty()) *error = "--file is required";
  if (!error->empty()) return std::nullopt;
  return o;
}

bool readLine(Options& o, std::string* error) {
  if (o.lineFile.empty()) return true;
  o.line = production::readLineFile(o.lineFile, error);
  if (!o.line) return false;
  // Operator mode: a line the user running it could change is no line.
  if (const std::string why = production::changeableByUs(o.lineFile); !why.empty())
    return *error = "operator mode needs a line file you cannot change: " + escapeControls(why), false;
  std::string list;
  for (const std::string& p : o.line->ports) list += (list.empty() ? "" : ",") + p;
  o.ports = portList(list, error);
  o.allPorts = list == kEveryPort;
  o.file = o.line->firmware;
  o.reportFile = o.line->report;
  o.intervalMs = o.line->intervalMs;
  o.publish.url = o.line->publish;
  o.publish.station = o.line->stationName;
  if (error->empty()) checkPublishing(o, error);
  return error->empty();
}

std::vector<PortTarget> portsOf(const Options& o, SerialPlatform& platform) {
  return o.allPorts ? production::everyPort(platform, o.station) : o.ports;
}

}  // namespace isp::cli
