// The Win32 serial layer where it can go wrong without a device: every
// field of the line settings, the error words, the failed opens.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "comm_settings.h"
#include "options.h"
#include "serial_win32.h"
#include "utf16.h"

namespace {

int g_failures = 0;

void expect(bool ok, const std::string& what) {
  if (ok) return;
  std::printf("FAILED: %s\n", what.c_str());
  ++g_failures;
}

void expectEq(unsigned long got, unsigned long want, const char* what) {
  expect(got == want, std::string(what) + " is " + std::to_string(got) + ", expected " + std::to_string(want));
}

void expectEq(const std::string& got, const std::string& want, const std::string& what) {
  expect(got == want, what + " is \"" + got + "\", expected \"" + want + "\"");
}

void lineSettings() {
  const DCB d = isp::lineState(isp::LineSettings{});
  // The flag bits are one 32-bit word after BaudRate; fBinary is bit 0.
  std::uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const char*>(&d) + offsetof(DCB, BaudRate) + sizeof d.BaudRate, sizeof flags);
  const struct { const char* field; unsigned long got, want; } dcb[] = {
      {"DCBlength", d.DCBlength, 28}, {"BaudRate", d.BaudRate, 19200}, {"flag bits", flags, 1},
      {"wReserved", d.wReserved, 0},  {"XonLim", d.XonLim, 0},         {"XoffLim", d.XoffLim, 0},
      {"ByteSize", d.ByteSize, 8},    {"Parity", d.Parity, NOPARITY},   {"StopBits", d.StopBits, ONESTOPBIT},
      {"XonChar", static_cast<unsigned char>(d.XonChar), 0},   {"XoffChar", static_cast<unsigned char>(d.XoffChar), 0},
      {"ErrorChar", static_cast<unsigned char>(d.ErrorChar), 0}, {"EofChar", static_cast<unsigned char>(d.EofChar), 0},
      {"EvtChar", static_cast<unsigned char>(d.EvtChar), 0},
  };
  for (const auto& c : dcb) expectEq(c.got, c.want, c.field);

  const COMMTIMEOUTS t = isp::lineTimeouts(isp::LineSettings{});
  const struct { const char* field; unsigned long got, want; } timeouts[] = {
      {"ReadIntervalTimeout", t.ReadIntervalTimeout, 20},
      {"ReadTotalTimeoutMultiplier", t.ReadTotalTimeoutMultiplier, 0},
      {"ReadTotalTimeoutConstant", t.ReadTotalTimeoutConstant, 150},
      {"WriteTotalTimeoutMultiplier", t.WriteTotalTimeoutMultiplier, 5},
      {"WriteTotalTimeoutConstant", t.WriteTotalTimeoutConstant, 50},
  };
  for (const auto& c : timeouts) expectEq(c.got, c.want, c.field);
}

void errorWords() {
  using E = isp::SerialError;
  const isp::Port com5{"COM5", R"(\\.\COM5)"};
  const struct { DWORD err; E error; const char* why; } cases[] = {
      {ERROR_SUCCESS, E::None, ""},
      {ERROR_FILE_NOT_FOUND, E::NotFound, R"(COM5 is \\.\COM5, which does not exist)"},
      {ERROR_PATH_NOT_FOUND, E::NotFound, R"(COM5 is \\.\COM5, which does not exist)"},
      {ERROR_ACCESS_DENIED, E::Busy, "COM5 is in use by another program"},
      {ERROR_SHARING_VIOLATION, E::Busy, "COM5 is in use by another program"},
      // The system's text is the system's language: only its frame is fixed.
      {ERROR_NOT_READY, E::Disconnected, "COM5: * (error 21)"},
      {ERROR_OPERATION_ABORTED, E::Disconnected, "COM5: * (error 995)"},
      {ERROR_INVALID_PARAMETER, E::Io, "COM5: * (error 87)"},
  };
  for (const auto& c : cases) {
    const isp::PortStatus s = isp::portStatusFromWin32(com5, c.err);
    const std::string what = "error " + std::to_string(c.err);
    expectEq(static_cast<unsigned long>(s.error), static_cast<unsigned long>(c.error), what.c_str());
    const std::string want = c.why;
    const auto star = want.find('*');
    if (star == std::string::npos) {
      expectEq(s.why, want, what);
      continue;
    }
    const std::string head = want.substr(0, star), tail = want.substr(star + 1);
    expect(s.why.size() > want.size() && s.why.starts_with(head) && s.why.ends_with(tail) &&
               s.why[s.why.size() - tail.size() - 1] != '.',
           what + ": \"" + s.why + "\" does not read \"" + want + "\"");
  }
}

void failedOpens() {
  expectEq(isp::Win32SerialPlatform().port(12).node, R"(\\.\COM12)", "the node of COM12");
  const std::string absent = R"(\\.\ISPNOSUCHPORT)";
  expectEq(isp::Win32SerialPlatform(absent).open(1).status.why, absent + " does not exist", "opening an absent device");

  wchar_t dir[MAX_PATH], file[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  ::GetTempFileNameW(dir, L"isp", 0, file);
  const isp::OpenResult o = isp::Win32SerialPlatform(isp::toUtf8(file)).open(1);
  expect(!o.port && o.status.error == isp::SerialError::NotASerialPort, "a plain file opened as a port: " + o.status.why);
  ::DeleteFileW(file);
}

// Wine lets a second program open a port that one holds; Windows does not.
void exclusiveOpen() {
  if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return;
  isp::Win32SerialPlatform platform;
  for (int n = isp::kFirstPort; n <= isp::kLastPort; ++n) {
    if (!platform.check(n)) continue;
    const isp::OpenResult held = platform.open(n);
    expect(held.port && platform.check(n).error == isp::SerialError::Busy, "a port held open is busy: " + isp::comName(n));
    return;
  }
}

void portArguments() {
  const struct { const char* port; int number; } cases[] = {{"COM7", 7}, {"7", 7}, {R"(\\.\COM7)", 0}, {"//./COM7", 0}};
  for (const auto& c : cases) {
    const char* argv[] = {"isp-flash", "--port", c.port, "--identify"};
    std::string error;
    const auto o = isp::cli::parse(4, argv, &error);
    expect(o && o->portNumber == c.number, std::string("--port ") + c.port + " " + error);
  }
}

}  // namespace

int main() {
  lineSettings();
  errorWords();
  failedOpens();
  exclusiveOpen();
  portArguments();
  std::printf("%s\n", g_failures == 0 ? "all passed" : "some failed");
  return g_failures == 0 ? 0 : 1;
}
