#include "serial/win32/serial_win32.h"

#include <cwctype>

#include "serial/win32/comm_settings.h"
#include "serial/win32/unique_handle.h"
#include "text/utf16.h"

namespace isp {

SystemCause systemCause(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_SUCCESS: return SystemCause::None;
    case ERROR_ACCESS_DENIED: return SystemCause::Permission;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY: return SystemCause::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return SystemCause::Absent;
    case ERROR_DIRECTORY: return SystemCause::NotARegularFile;
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME: return SystemCause::UnsafePath;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE: return SystemCause::NoSpace;
    case ERROR_WRITE_PROTECT: return SystemCause::ReadOnly;
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_CRC: return SystemCause::Io;
    default: return SystemCause::Other;
  }
}

SerialError serialErrorFromWin32(DWORD err) {
  switch (err) {
    case ERROR_SUCCESS: return SerialError::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return SerialError::NotFound;
    // Windows answers a port that another program holds with access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return SerialError::Busy;
    // What drivers say once the device or adapter has gone away.
    case ERROR_NOT_READY:
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED: return SerialError::Disconnected;
    default: return SerialError::Io;
  }
}

std::string systemMessage(DWORD err) {
  wchar_t text[512];
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, text,
                             sizeof text / sizeof text[0], nullptr);
  // The text ends in a full stop and a line break, which a message that
  // goes on does not want.
  while (n > 0 && (std::iswspace(static_cast<wint_t>(text[n - 1])) || text[n - 1] == L'.')) --n;
  const std::string number = "error " + std::to_string(err);
  return n == 0 ? number : toUtf8(std::wstring_view(text, n)) + " (" + number + ")";
}

namespace {

// Exclusive (share mode 0) and synchronous: every transfer blocks under the
// port's time-outs. The error is GetLastError()'s when the open fails.
UniqueHandle openExclusive(const std::string& node, DWORD& err) {
  if (node.empty()) {
    err = ERROR_FILE_NOT_FOUND;
    return {};
  }
  UniqueHandle h(::CreateFileW(toUtf16(node).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  err = h ? ERROR_SUCCESS : ::GetLastError();
  return h;
}

class Win32Port final : public SerialPort {
 public:
  explicit Win32Port(UniqueHandle h) : h_(std::move(h)) {}

  void discardInput() override { ::PurgeComm(h_.get(), PURGE_RXCLEAR); }

  // The write is synchronous: it returns when the bytes have left, so the
  // reply's time-out, which starts with the next read, starts then.
  IoResult write(std::span<const std::uint8_t> bytes) override {
    DWORD n = 0;
    if (!::WriteFile(h_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr)) return failed(n);
    return {n, false};
  }

  IoResult read(std::span<std::uint8_t> bytes) override {
    DWORD n = 0;
    if (!::ReadFile(h_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr)) return failed(n);
    // A short read is a time-out, or a device that has gone: ReadFile
    // cannot tell them apart, ClearCommError fails on a port that is gone.
    DWORD errors = 0;
    if (n < bytes.size() && !::ClearCommError(h_.get(), &errors, nullptr)) return failed(n);
    return {n, false};
  }

 private:
  static IoResult failed(DWORD n) { return {n, serialErrorFromWin32(::GetLastError()) == SerialError::Disconnected}; }

  UniqueHandle h_;
};

}  // namespace

PortStatus portStatusFromWin32(const Port& port, DWORD err) {
  return portStatus(port, serialErrorFromWin32(err), systemMessage(err), static_cast<int>(err));
}

Win32SerialPlatform::Win32SerialPlatform(LineSettings line) : line_(line) {}

Port Win32SerialPlatform::port(const PortTarget& target) const {
  if (target.number == 0 && !target.name.empty()) return Port{target.name, target.name};
  const int n = target.number;
  const std::string given = target.name.empty() ? comName(n) : target.name;
  if (n < kFirstPort || n > kLastPort) return Port{given, {}};
  Port p{given, "\\\\.\\" + comName(n)};
  // The kernel device behind the name ("\Device\Serial0", "\Device\VCP0")
  // says which driver, and so which adapter, it is; no installer needed.
  p.adapter = usbFacts(comName(n));
  wchar_t device[512];
  if (::QueryDosDeviceW(toUtf16(comName(n)).c_str(), device, sizeof device / sizeof device[0]) > 0)
    p.adapter.device = toUtf8(device);
  return p;
}

// Opens the port exclusively; a handle that has no line state to report is
// no serial port (Wine, for one, opens a COM name that leads nowhere).
static UniqueHandle openSerial(const Port& p, PortStatus& status) {
  DWORD err = ERROR_SUCCESS;
  UniqueHandle h = openExclusive(p.node, err);
  if (!h) {
    status = portStatusFromWin32(p, err);
    return h;
  }
  DCB current{};
  current.DCBlength = sizeof current;
  if (!::GetCommState(h.get(), &current)) {
    const DWORD err = ::GetLastError();
    status = portStatus(p, SerialError::NotASerialPort, systemMessage(err), static_cast<int>(err));
    return UniqueHandle();
  }
  return h;
}

namespace {
class SystemCommCalls final : public CommCalls {
 public:
  bool setupComm(HANDLE h, DWORD in, DWORD out) override { return ::SetupComm(h, in, out); }
  bool setCommState(HANDLE h, DCB& dcb) override { return ::SetCommState(h, &dcb); }
  bool setCommTimeouts(HANDLE h, COMMTIMEOUTS& t) override { return ::SetCommTimeouts(h, &t); }
  bool getCommTimeouts(HANDLE h, COMMTIMEOUTS& t) override { return ::GetCommTimeouts(h, &t); }
};
}  // namespace

OpenResult Win32SerialPlatform::open(const PortTarget& target) {
  const Port p = port(target);
  PortStatus status;
  UniqueHandle h = openSerial(p, status);
  if (!h) return {nullptr, status};

  SystemCommCalls calls;
  // Reads without a time-out would hang the program on a silent device.
  if (!configure(calls, h.get(), line_))
    return {nullptr, portStatus(p, SerialError::Io, "the driver refused the read time-outs")};
  // The DCB holds DTR and RTS inactive from now on; these lower them at
  // once. A port without modem lines refuses, which does no harm.
  ::EscapeCommFunction(h.get(), CLRDTR);
  ::EscapeCommFunction(h.get(), CLRRTS);
  ::PurgeComm(h.get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
  return {std::make_unique<Win32Port>(std::move(h)), {}};
}

PortStatus Win32SerialPlatform::check(const PortTarget& target) {
  PortStatus status;
  openSerial(port(target), status);
  return status;
}

// A USB adapter pulled out takes its COM name with it.
PortStatus Win32SerialPlatform::whyGone(const PortTarget& target) {
  const Port p = port(target);
  std::string name = p.node;
  if (name.starts_with(R"(\\.\)") || name.starts_with("//./")) name = name.substr(4);
  wchar_t device[512];
  if (::QueryDosDeviceW(toUtf16(name).c_str(), device, sizeof device / sizeof device[0]) == 0 &&
      ::GetLastError() == ERROR_FILE_NOT_FOUND)
    return portStatus(p, SerialError::Unplugged, {});
  return portStatus(p, SerialError::Disconnected, "the device stopped answering");
}

}  // namespace isp
