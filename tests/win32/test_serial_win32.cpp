// The Win32 serial layer where it can go wrong without a device: every
// field of the line settings, the error words, the failed opens.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sstream>
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

template <typename T>
void expectEq(const T& got, const T& want, const std::string& what) {
  std::ostringstream text;
  text << what << " is \"" << got << "\", expected \"" << want << '"';
  expect(got == want, text.str());
}

void lineSettings() {
  const DCB d = isp::lineState(isp::LineSettings{});
  // The flag bits are one 32-bit word after BaudRate; fBinary is bit 0.
  std::uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const char*>(&d) + offsetof(DCB, BaudRate) + sizeof d.BaudRate, sizeof flags);
  const COMMTIMEOUTS t = isp::lineTimeouts(isp::LineSettings{});
  const struct { const char* field; unsigned long got, want; } fields[] = {
      {"DCBlength", d.DCBlength, 28}, {"BaudRate", d.BaudRate, 19200}, {"flag bits", flags, 1},
      {"wReserved", d.wReserved, 0}, {"XonLim", d.XonLim, 0}, {"XoffLim", d.XoffLim, 0},
      {"ByteSize", d.ByteSize, 8}, {"Parity", d.Parity, NOPARITY}, {"StopBits", d.StopBits, ONESTOPBIT},
      // The five characters, all 0, as one number.
      {"XonChar to EvtChar", static_cast<unsigned long>(d.XonChar | d.XoffChar | d.ErrorChar | d.EofChar | d.EvtChar), 0},
      {"ReadIntervalTimeout", t.ReadIntervalTimeout, 20}, {"ReadTotalTimeoutMultiplier", t.ReadTotalTimeoutMultiplier, 0},
      {"ReadTotalTimeoutConstant", t.ReadTotalTimeoutConstant, 150},
      {"WriteTotalTimeoutMultiplier", t.WriteTotalTimeoutMultiplier, 5},
      {"WriteTotalTimeoutConstant", t.WriteTotalTimeoutConstant, 50},
  };
  for (const auto& f : fields) expectEq(f.got, f.want, f.field);
}

void errorWords() {
  using E = isp::SerialError;
  using isp::systemMessage;
  const isp::Port com5{"COM5", R"(\\.\COM5)"};
  const struct { DWORD err; E error; std::string why; } cases[] = {
      {ERROR_SUCCESS, E::None, ""},
      {ERROR_FILE_NOT_FOUND, E::NotFound, R"(COM5 is \\.\COM5, which does not exist)"},
      {ERROR_PATH_NOT_FOUND, E::NotFound, R"(COM5 is \\.\COM5, which does not exist)"},
      {ERROR_ACCESS_DENIED, E::Busy, "COM5 is in use by another program"},
      {ERROR_SHARING_VIOLATION, E::Busy, "COM5 is in use by another program"},
      {ERROR_NOT_READY, E::Disconnected, "COM5: " + systemMessage(ERROR_NOT_READY)},
      {ERROR_OPERATION_ABORTED, E::Disconnected, "COM5: " + systemMessage(ERROR_OPERATION_ABORTED)},
      {ERROR_INVALID_PARAMETER, E::Io, "COM5: " + systemMessage(ERROR_INVALID_PARAMETER)},
  };
  for (const auto& c : cases) {
    const isp::PortStatus s = isp::portStatusFromWin32(com5, c.err);
    expectEq(static_cast<int>(s.error), static_cast<int>(c.error), "the kind of error " + std::to_string(c.err));
    expectEq(s.why, c.why, "the words for error " + std::to_string(c.err));
  }
  // The system's text is in the system's language: only its frame is fixed.
  const std::string text = systemMessage(ERROR_NOT_READY);
  const auto number = text.rfind(" (error 21)");
  expect(number != std::string::npos && number > 0 && number + 11 == text.size() && text[number - 1] != '.' &&
             text[number - 1] != '\n',
         "the system's text, trimmed and numbered: " + text);
}

void failedOpens() {
  expectEq(isp::Win32SerialPlatform().port(12).node, std::string(R"(\\.\COM12)"), "the node of COM12");
  const std::string absent = R"(\\.\ISPNOSUCHPORT)";
  expectEq(isp::Win32SerialPlatform(absent).open(1).status.why, absent + " does not exist", "an absent device");

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
