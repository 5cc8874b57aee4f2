// The Win32 serial layer where it can go wrong without a device: every
// field of the line settings, the error words, the failed opens.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "cli/options.h"
#include "serial/win32/comm_settings.h"
#include "serial/win32/serial_win32.h"
#include "text/utf16.h"

namespace isp {
namespace {

TEST(Win32Serial, LineSettingsFieldByField) {
  const DCB d = lineState(LineSettings{});
  // The flag bits are one 32-bit word after BaudRate; fBinary is bit 0.
  std::uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const char*>(&d) + offsetof(DCB, BaudRate) + sizeof d.BaudRate, sizeof flags);
  const COMMTIMEOUTS t = lineTimeouts(LineSettings{});
  // The field, its value, the value it must have.
  const std::tuple<const char*, unsigned long, unsigned long> fields[] = {
      {"DCBlength", d.DCBlength, 28},
      {"BaudRate", d.BaudRate, 19200},
      {"flag bits", flags, 1},
      {"wReserved", d.wReserved, 0},
      {"XonLim", d.XonLim, 0},
      {"XoffLim", d.XoffLim, 0},
      {"ByteSize", d.ByteSize, 8},
      {"Parity", d.Parity, NOPARITY},
      {"StopBits", d.StopBits, ONESTOPBIT},
      // The five characters, all 0, as one number.
      {"XonChar to EvtChar", static_cast<unsigned long>(d.XonChar | d.XoffChar | d.ErrorChar | d.EofChar | d.EvtChar),
       0},
      {"ReadIntervalTimeout", t.ReadIntervalTimeout, 20},
      {"ReadTotalTimeoutMultiplier", t.ReadTotalTimeoutMultiplier, 0},
      {"ReadTotalTimeoutConstant", t.ReadTotalTimeoutConstant, 150},
      {"WriteTotalTimeoutMultiplier", t.WriteTotalTimeoutMultiplier, 5},
      {"WriteTotalTimeoutConstant", t.WriteTotalTimeoutConstant, 50},
  };
  for (const auto& [field, got, want] : fields) EXPECT_EQ(got, want) << field;
}

// Calls that refuse what a given driver refuses, and keep each line state offered.
struct RefusingCalls final : CommCalls {
  bool setup = true, equalXonXoff = true, state = true, timeouts = true;
  DWORD intervalInForce = 0, totalInForce = 0;  // read time-outs the last program left
  std::vector<DCB> offered;
  bool setupComm(HANDLE, DWORD, DWORD) override { return setup; }
  bool setCommState(HANDLE, DCB& dcb) override {
    offered.push_back(dcb);
    return state && (equalXonXoff || dcb.XonChar != dcb.XoffChar);
  }
  bool setCommTimeouts(HANDLE, COMMTIMEOUTS&) override { return timeouts; }
  bool getCommTimeouts(HANDLE, COMMTIMEOUTS& t) override {
    t = {intervalInForce, 0, totalInForce, 0, 0};
    return true;
  }
};

// A driver that refuses a setting leaves the port usable, unless a read
// could then wait for ever; XON/XOFF characters refused are offered again.
TEST(Win32Serial, ConfigurationRefusals) {
  const auto driver = [](auto refuse) {
    RefusingCalls c;
    refuse(c);
    return c;
  };
  // The driver, whether the port is usable, and how often the line state is offered.
  const std::tuple<const char*, RefusingCalls, bool, std::size_t> cases[] = {
      {"takes everything", {}, true, 1},
      {"no queue sizes", driver([](auto& c) { c.setup = false; }), true, 1},
      {"no equal XON and XOFF", driver([](auto& c) { c.equalXonXoff = false; }), true, 2},
      {"no line state at all", driver([](auto& c) { c.state = false; }), true, 2},
      {"no time-outs, reads bounded", driver([](auto& c) { c.timeouts = false, c.totalInForce = 500; }), true, 1},
      {"no time-outs, reads at once", driver([](auto& c) { c.timeouts = false, c.intervalInForce = MAXDWORD; }), true,
       1},
      {"no time-outs, reads unbounded", driver([](auto& c) { c.timeouts = false, c.intervalInForce = 20; }), false, 1},
  };
  for (auto [what, calls, usable, offers] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(configure(calls, nullptr, LineSettings{}), usable);
    const DCB& last = calls.offered.back();  // a second offer only when the first was refused
    EXPECT_EQ(std::tuple(last.BaudRate, last.XonChar, last.XoffChar),
              offers == 2 ? std::tuple(19200ul, '\x11', '\x13') : std::tuple(19200ul, '\0', '\0'));
  }
}

TEST(Win32Serial, ErrorWords) {
  using E = SerialError;
  const Port com5{"COM5", R"(\\.\COM5)"};
  // The system's error, and the port's error and words for it.
  const std::tuple<DWORD, E, std::string> cases[] = {
      {ERROR_SUCCESS, E::None, ""},
      {ERROR_FILE_NOT_FOUND, E::NotFound, R"(COM5 is \\.\COM5, which does not exist)"},
      {ERROR_PATH_NOT_FOUND, E::NotFound, R"(COM5 is \\.\COM5, which does not exist)"},
      {ERROR_ACCESS_DENIED, E::Busy, "COM5 is in use by another program"},
      {ERROR_SHARING_VIOLATION, E::Busy, "COM5 is in use by another program"},
      {ERROR_NOT_READY, E::Disconnected, "COM5: " + systemMessage(ERROR_NOT_READY)},
      {ERROR_OPERATION_ABORTED, E::Disconnected, "COM5: " + systemMessage(ERROR_OPERATION_ABORTED)},
      {ERROR_INVALID_PARAMETER, E::Io, "COM5: " + systemMessage(ERROR_INVALID_PARAMETER)},
  };
  for (const auto& [err, error, why] : cases) {
    const PortStatus s = portStatusFromWin32(com5, err);
    EXPECT_EQ(std::pair(s.error, s.why), std::pair(error, why)) << err;
  }
  // The system's text is in the system's language: only its frame is fixed.
  const std::string text = systemMessage(ERROR_NOT_READY);
  const auto number = text.rfind(" (error 21)");
  ASSERT_NE(number, std::string::npos) << text;
  EXPECT_EQ(number + 11, text.size()) << text;
  EXPECT_TRUE(number > 0 && text[number - 1] != '.' && text[number - 1] != '\n') << "trimmed: " << text;
}

TEST(Win32Serial, FailedOpens) {
  EXPECT_EQ(Win32SerialPlatform().port(PortTarget::com(12)).node, R"(\\.\COM12)");
  const std::string absent = R"(\\.\ISPNOSUCHPORT)";
  EXPECT_EQ(Win32SerialPlatform().open({absent, 0}).status.why, absent + " does not exist");

  wchar_t dir[MAX_PATH], file[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  ::GetTempFileNameW(dir, L"isp", 0, file);
  const OpenResult o = Win32SerialPlatform().open({toUtf8(file), 0});
  EXPECT_FALSE(o.port);
  EXPECT_EQ(o.status.error, SerialError::NotASerialPort) << o.status.why;
  ::DeleteFileW(file);
}

// A device path with backslashes names its port by itself, as a path with
// slashes does everywhere; COM names and numbers are read the same everywhere.
TEST(Win32Serial, DevicePathArgument) {
  const char* argv[] = {"isp-flash", "--port", R"(\\.\COM7)", "--identify"};
  std::string error;
  const auto o = cli::parse(4, argv, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->ports.front().number, 0);
}

}  // namespace
}  // namespace isp
