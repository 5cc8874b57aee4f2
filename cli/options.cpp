#include "options.h"

#include <cctype>
#include <charconv>

#include "isp_version.h"

namespace isp::cli {

const char* const kVersion = "isp-flash " ISP_VERSION;

const char* const kHelp =
    "usage: isp-flash --port PORT --file FILE [--interval MS] [--log FILE] [--quiet]\n"
    "       isp-flash --port PORT --identify\n"
    "       isp-flash --list\n"
    "       isp-flash --help | --version\n"
    "\n"
    "Writes a firmware file (513 records of 130 bytes) into the device on PORT:\n"
    "identifies the device, then sends one record per interval.\n"
    "\n"
#ifdef _WIN32
    "  --port PORT     COMn or n (1 to 20), or a device path such as \\\\.\\COM21\n"
#else
    "  --port PORT     COMn or n (1 to 20), or a device path such as /dev/ttyUSB0\n"
    "                  COM1-COM4 = /dev/ttyS0-3, COM5-COM12 = /dev/ttyUSB0-7,\n"
    "                  COM13-COM20 = /dev/ttyACM0-7\n"
#endif
    "                  (--option=value works as well as --option value)\n"
    "  --file FILE     the firmware file; it is opened before the device is touched\n"
    "  --interval MS   time between records, default 250; 0 sends the next record\n"
    "                  as soon as the previous one is acknowledged\n"
    "  --log FILE      also append every log line, with a timestamp, to FILE\n"
    "  --quiet         no progress display (it is shown only on a terminal anyway)\n"
    "  --identify      only ask the device who it is\n"
    "  --list          list the serial ports present, with their device nodes\n"
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
    "  1    the transfer started and did not complete\n"
    "  2    usage error\n"
    "  3    the device was not identified in programming mode\n"
    "  4    the firmware file could not be opened or read\n"
#ifdef _WIN32
    "  130  stopped by Ctrl-C (149 Ctrl-Break, 129 the console closed)\n";
#else
    "  128 + the signal number: stopped (130 for Ctrl-C, 143 SIGTERM, 129 SIGHUP)\n";
#endif

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

// COMn, comn or n with n from 1 to 20; 0 for a device path; nothing otherwise.
std::optional<int> portNumber(const std::string& port) {
  if (port.find_first_of(kPathMarks) != std::string::npos) return 0;
  std::string digits = port;
  if (port.size() > 3 && std::toupper(static_cast<unsigned char>(port[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(port[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(port[2])) == 'M')
    digits = port.substr(3);
  const auto n = number(digits);
  if (!n || *n < 1 || *n > 20) return std::nullopt;
  return n;
}

}  // namespace

std::optional<Options> parse(int argc, const char* const* argv, std::string* error) {
  Options o;
  bool identify = false, list = false, help = false, version = false;
  auto fail = [&](const std::string& why) -> std::optional<Options> {
    *error = why;
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    // --option=value and --option value are the same.
    std::optional<std::string> inlineValue;
    if (const auto eq = a.find('='); a.starts_with("--") && eq != std::string::npos) {
      inlineValue = a.substr(eq + 1);
      a.resize(eq);
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    const bool takesValue = a == "--port" || a == "--file" || a == "--interval" || a == "--log";
    if (inlineValue && !takesValue) return fail(a + " takes no value");
    if (a == "--help" || a == "-h") help = true;
    else if (a == "--version") version = true;
    else if (a == "--identify") identify = true;
    else if (a == "--list") list = true;
    else if (a == "--quiet" || a == "-q") o.quiet = true;
    else if (takesValue) {
      const auto v = value();
      if (!v) return fail(a + " needs a value");
      if (a == "--port") o.port = *v;
      else if (a == "--file") o.file = *v;
      else if (a == "--log") o.logFile = *v;
      else {
        const auto ms = number(*v);
        if (!ms || *ms < 0 || *ms > 60000) return fail("--interval takes milliseconds from 0 to 60000");
        o.intervalMs = *ms;
      }
    } else {
      return fail("unknown argument: " + a);
    }
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
  const auto n = portNumber(o.port);
  if (!n) return fail("--port takes COM1 to COM20, 1 to 20, or a device path: " + o.port);
  o.portNumber = *n;
  if (identify) {
    if (!o.file.empty()) return fail("--identify takes no --file");
    o.mode = Options::Mode::Identify;
    return o;
  }
  if (o.file.empty()) return fail("--file is required");
  return o;
}

}  // namespace isp::cli
