// windows.h first: shellapi.h needs its types.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "os.h"
#include "serial_win32.h"
#include "utf16.h"

namespace isp::cli {

namespace {

// The exit status a stop gives, 0 while none has been asked for. Console
// events arrive on a thread of their own.
std::atomic<int> g_stop{0};

// Set when a stop is asked for, so that a sleep ends at once.
HANDLE wakeEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI onConsoleEvent(DWORD event) {
  // The statuses a shell gives the same interrupts on Linux: 128 + SIGINT,
  // 128 + SIGBREAK, and a closed console counts as a hang-up.
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  g_stop = event == CTRL_C_EVENT ? 130 : event == CTRL_BREAK_EVENT ? 149 : 129;
  ::SetEvent(wakeEvent());
  // On close, log-off and shut-down the process ends as soon as this
  // returns: leave the main thread the time to stop the transfer and exit.
  if (!interrupt) ::Sleep(INFINITE);
  return TRUE;
}

UINT g_consoleCodePage = 0;

void restoreConsoleCodePage() { ::SetConsoleOutputCP(g_consoleCodePage); }

}  // namespace

std::vector<std::string> startProgram(int argc, char** argv) {
  // The console shows UTF-8 as it stands until the program ends; a pipe or
  // a file gets the same bytes as on Linux, "\n" at the end of each line.
  g_consoleCodePage = ::GetConsoleOutputCP();
  if (g_consoleCodePage != 0 && ::SetConsoleOutputCP(CP_UTF8)) std::atexit(restoreConsoleCodePage);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);

  // main's argv is in the ANSI code page, which cannot hold every name.
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(toUtf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

std::unique_ptr<SerialPlatform> serialPlatform(const std::string& path) {
  return std::make_unique<Win32SerialPlatform>(path);
}

void installStopHandlers() {
  wakeEvent();
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int stopStatus() { return g_stop; }

void sleepUntil(TimePoint t) {
  const DWORD ms = static_cast<DWORD>(Deadline(t).waitMs(Clock::now()));
  ::WaitForSingleObject(wakeEvent(), ms);
}

std::string hostName() {
  wchar_t name[256];
  DWORD n = sizeof name / sizeof name[0];
  return ::GetComputerNameExW(ComputerNameDnsHostname, name, &n) ? toUtf8(std::wstring_view(name, n)) : "";
}

bool appendDurably(const std::string& path, const std::string& text, std::string* error) {
  const HANDLE h = ::CreateFileW(toUtf16(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  bool ok = h != INVALID_HANDLE_VALUE &&
            ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size() &&
            ::FlushFileBuffers(h);
  if (!ok) *error = path + ": " + systemMessage(::GetLastError());
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  return ok;
}

std::string absolutePath(const std::string& path) {
  wchar_t full[1024];
  const DWORD n = ::GetFullPathNameW(toUtf16(path).c_str(), sizeof full / sizeof full[0], full, nullptr);
  return n > 0 && n < sizeof full / sizeof full[0] ? toUtf8(std::wstring_view(full, n)) : path;
}

bool stderrShowsProgress() {
  // The progress line redraws itself with "\r" and "ESC [K", which a
  // console takes only once asked to.
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return ::GetConsoleMode(err, &mode) && ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace isp::cli
