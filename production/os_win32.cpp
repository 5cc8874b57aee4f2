// windows.h first: shellapi.h needs its types.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "production/os.h"
#include "serial/win32/serial_win32.h"
#include "serial/win32/unique_handle.h"
#include "text/utf16.h"

namespace isp::production {

namespace {

// The signal a stop stands for, 0 while none has been asked for. Console
// events arrive on a thread of their own.
std::atomic<int> g_stop{0};

std::stop_source g_source;

// SIGHUP's number, which Windows does not define: a closed console is a hang-up.
constexpr int kHangUp = 1;

BOOL WINAPI onConsoleEvent(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  g_stop = event == CTRL_C_EVENT ? SIGINT : event == CTRL_BREAK_EVENT ? SIGBREAK : kHangUp;
  g_source.request_stop();
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
  return commandLine(argc, argv);
}

std::vector<std::string> commandLine(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return argv ? std::vector<std::string>(argv, argv + argc) : std::vector<std::string>();
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(toUtf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

std::unique_ptr<SerialPlatform> serialPlatform() { return std::make_unique<Win32SerialPlatform>(); }

std::stop_token installStopHandlers() {
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
  return g_source.get_token();
}

int stopSignal() { return g_stop; }

std::string hostName() {
  wchar_t name[256];
  DWORD n = sizeof name / sizeof name[0];
  return ::GetComputerNameExW(ComputerNameDnsHostname, name, &n) ? toUtf8(std::wstring_view(name, n)) : "";
}

namespace {

class Win32RecordFile final : public RecordFile {
 public:
  Win32RecordFile(std::string path, UniqueHandle file) : path_(std::move(path)), file_(std::move(file)) {}

  bool append(const std::string& line, FileError* error) override {
    // Other runs appending to the same record wait their turn, for a while.
    // The byte locked lies far past any end: a lock on Windows keeps readers
    // out of what it covers, and the record must stay readable.
    OVERLAPPED turn{};
    turn.OffsetHigh = 0x7fffffff;
    bool locked = false;
    for (int tries = 0; tries < 50 && !locked; ++tries) {
      locked = ::LockFileEx(file_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn);
      if (!locked) ::Sleep(10);
    }
    const bool ok = write(line, error);
    if (locked) ::UnlockFileEx(file_.get(), 0, 1, 0, &turn);
    return ok;
  }
  End end() const override { return end_; }

 private:
  bool write(const std::string& line, FileError* error) {
    LARGE_INTEGER before{};
    if (!::GetFileSizeEx(file_.get(), &before)) return failed(error);
    char last = '\n';
    DWORD got = 0;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(before.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((before.QuadPart - 1) >> 32);
    const bool unended =
        before.QuadPart > 0 && ::ReadFile(file_.get(), &last, 1, &got, &at) && got == 1 && last != '\n';
    const std::string text = (unended ? "\n" : "") + line;
    // Offsets of all ones: at the end of the file, whatever else was appended.
    OVERLAPPED end{};
    end.Offset = end.OffsetHigh = 0xffffffff;
    DWORD written = 0;
    if (::WriteFile(file_.get(), text.data(), static_cast<DWORD>(text.size()), &written, &end) &&
        written == text.size() && ::FlushFileBuffers(file_.get())) {
      LARGE_INTEGER after{};
      end_ = {path_, ::GetFileSizeEx(file_.get(), &after) ? static_cast<std::uint64_t>(after.QuadPart)
                                                          : static_cast<std::uint64_t>(before.QuadPart) + written};
      return true;
    }
    const DWORD err = ::GetLastError() == ERROR_SUCCESS ? ERROR_HANDLE_DISK_FULL : ::GetLastError();
    // Takes back a line not written whole, so that the file parses line by
    // line again; only when it is still the file's end.
    LARGE_INTEGER now{};
    if (written > 0 && ::GetFileSizeEx(file_.get(), &now) && now.QuadPart == before.QuadPart + written) {
      ::SetFilePointerEx(file_.get(), before, nullptr, FILE_BEGIN);
      ::SetEndOfFile(file_.get());
      ::FlushFileBuffers(file_.get());
    }
    ::SetLastError(err);
    return failed(error);
  }
  bool failed(FileError* error) const {
    const DWORD err = ::GetLastError();
    *error = fileError(path_, static_cast<int>(err), systemMessage(err));
    return false;
  }

  std::string path_;
  UniqueHandle file_;
  End end_{};
};

}  // namespace

namespace {
// Names Windows takes for a device wherever they stand: "COM7", "\\.\COM7",
// "C:\out\nul.txt".
bool namesADevice(const std::string& path) {
  if (path.starts_with("\\\\.\\") || path.starts_with("//./")) return true;
  std::string name = deviceIdentity(path);  // upper case, backslashes
  name = name.substr(name.find_last_of("\\:") + 1);
  name = name.substr(0, name.find('.'));
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") return true;
  return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) && name[3] >= '1' && name[3] <= '9';
}
}  // namespace

std::unique_ptr<RecordFile> RecordFile::open(const std::string& path, FileError* error, std::function<int(int)> sync) {
  (void)sync;  // a Windows handle is no descriptor: FlushFileBuffers it is
  // A device is never opened, not even to be refused: opening COM7 moves its lines.
  if (namesADevice(path)) {
    *error = notARegularFile(path);
    return nullptr;
  }
  // Read to see how the last line ended, write to take back a torn one.
  UniqueHandle file(::CreateFileW(toUtf16(path).c_str(), FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
  if (!file) {
    const DWORD err = ::GetLastError();
    *error = fileError(path, static_cast<int>(err), systemMessage(err));
    return nullptr;
  }
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
    *error = notARegularFile(path);
    return nullptr;
  }
  return std::make_unique<Win32RecordFile>(path, std::move(file));
}

std::string deviceIdentity(const std::string& node) {
  // "\\.\COM7", "//./com7" and "COM7" are one port.
  std::string name = node;
  for (char& c : name) c = c == '/' ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name.starts_with("\\\\.\\") ? name.substr(4) : name;
}

std::string fileIdentity(const std::string& path) {
  if (namesADevice(path)) return deviceIdentity(path);
  // Asked for no access at all: the file's volume and index, not its data.
  UniqueHandle file(::CreateFileW(toUtf16(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (file && ::GetFileInformationByHandle(file.get(), &info))
    return fileIdentity(info.dwVolumeSerialNumber, std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow);
  std::string name = absolutePath(path);  // names differ by case alone on one file
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string absolutePath(const std::string& path) {
  wchar_t full[1024];
  const DWORD n = ::GetFullPathNameW(toUtf16(path).c_str(), sizeof full / sizeof full[0], full, nullptr);
  return n > 0 && n < sizeof full / sizeof full[0] ? toUtf8(std::wstring_view(full, n)) : path;
}

namespace {

// What lets a user put other bytes where the file is: write or append it,
// change its permissions or owner, delete it; of its folder, delete or
// rename its entries, or it.
constexpr DWORD kChangesFile = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE;
constexpr DWORD kChangesFolder = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | DELETE;
GENERIC_MAPPING fileMapping() { return {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS}; }

// A SID in a buffer of its own.
struct Sid {
  BYTE bytes[SECURITY_MAX_SID_SIZE]{};
  PSID get() { return bytes; }
};
Sid wellKnown(WELL_KNOWN_SID_TYPE type) {
  Sid s;
  DWORD size = sizeof s.bytes;
  ::CreateWellKnownSid(type, nullptr, s.bytes, &size);
  return s;
}

// The owner and permissions of a file or folder.
struct Descriptor {
  PSECURITY_DESCRIPTOR sd = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  DWORD error = 0;
  explicit Descriptor(const std::wstring& path)
      : error(
            ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    &owner, nullptr, &dacl, nullptr, &sd)) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (sd) ::LocalFree(sd);
  }
};

// The account a SID names, as Windows shows it.
std::string account(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD n = 256, d = 256;
  SID_NAME_USE use;
  if (::LookupAccountSidW(nullptr, sid, name, &n, domain, &d, &use))
    return toUtf8(d > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name));
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return "an account";
  const std::string out = toUtf8(text);
  ::LocalFree(text);
  return out;
}

// The running user: their SID, a token to ask with, and whether they act as
// an administrator (an elevated one: the group is enabled in the token).
struct Us {
  UniqueHandle token;
  Sid user;
  bool administrator = false;
  Us() {
    HANDLE process = nullptr, asked = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process)) return;
    const UniqueHandle owned(process);
    if (::DuplicateToken(process, SecurityIdentification, &asked)) token = UniqueHandle(asked);
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (::GetTokenInformation(process, TokenUser, buffer, sizeof buffer, &size))
      ::CopySid(sizeof user.bytes, user.bytes, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    Sid admins = wellKnown(WinBuiltinAdministratorsSid);
    BOOL member = FALSE;
    administrator = ::CheckTokenMembership(nullptr, admins.get(), &member) && member;
  }
  // An account an administrator trusts with the line: the system, the
  // administrators, the installer service, or themselves.
  bool trusted(PSID sid) {
    if (::EqualSid(sid, user.get())) return true;
    for (WELL_KNOWN_SID_TYPE t : {WinLocalSystemSid, WinBuiltinAdministratorsSid})
      if (Sid s = wellKnown(t); ::EqualSid(sid, s.get())) return true;
    PSID installer = nullptr;
    if (!::ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer))
      return false;
    const bool is = ::EqualSid(sid, installer);
    ::LocalFree(installer);
    return is;
  }
};

// The first account but the trusted ones that the permissions allow any of
// rights; nothing when there is none. No permissions at all allow everyone.
std::optional<std::string> otherAllowed(Us& us, PACL dacl, DWORD rights) {
  if (!dacl) return "everyone (it has no permissions at all)";
  GENERIC_MAPPING mapping = fileMapping();
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (allowed->Header.AceFlags & INHERIT_ONLY_ACE)) continue;
    DWORD mask = allowed->Mask;
    ::MapGenericMask(&mask, &mapping);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((mask & rights) && !us.trusted(sid)) return account(sid);
  }
  return std::nullopt;
}

// Why the user could change the file or folder at part; nothing when not.
std::string changeable(Us& us, const std::wstring& part, DWORD rights) {
  const std::string name = toUtf8(part);
  const Descriptor d(part);
  if (d.error) return name + ": " + systemMessage(d.error);
  GENERIC_MAPPING mapping = fileMapping();
  if (us.administrator) {
    // An administrator may change anything: a line is theirs to run when
    // nobody else may change it.
    if (!us.trusted(d.owner)) return name + ": belongs to " + account(d.owner) + ", who may change it";
    const std::optional<std::string> other = otherAllowed(us, d.dacl, rights);
    return other ? name + ": " + *other + " may change it" : std::string();
  }
  PRIVILEGE_SET privileges{};
  DWORD size = sizeof privileges, granted = 0;
  BOOL allowed = FALSE;
  if (!us.token ||
      !::AccessCheck(d.sd, us.token.get(), MAXIMUM_ALLOWED, &mapping, &privileges, &size, &granted, &allowed))
    return name + ": whether you may change it cannot be told: " + systemMessage(::GetLastError());
  if (allowed && (granted & rights))
    return name + ((granted & (WRITE_DAC | WRITE_OWNER)) && !(granted & (FILE_WRITE_DATA | FILE_DELETE_CHILD))
                       ? ": you may change its permissions"
                       : ": you may write it");
  return {};
}

}  // namespace

// The file and its folder, by their security descriptors: whoever may
// change either could make the line another.
std::string changeableByUs(const std::string& path) {
  const std::filesystem::path whole = toUtf16(absolutePath(path));
  Us us;
  if (std::string why = changeable(us, whole.wstring(), kChangesFile); !why.empty()) return why;
  return changeable(us, whole.parent_path().wstring(), kChangesFolder);
}

FileError writeOwnFile(const std::string& path, const std::string& bytes) {
  if (namesADevice(path)) return notARegularFile(path);
  const auto failed = [&](DWORD err) { return fileError(path, static_cast<int>(err), systemMessage(err)); };
  UniqueHandle file(::CreateFileW(toUtf16(path).c_str(), GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return failed(::GetLastError());
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) return notARegularFile(path);
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (const DWORD err = ::GetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                          nullptr, nullptr, &sd))
    return failed(err);
  const std::unique_ptr<void, decltype(&::LocalFree)> held(sd, ::LocalFree);
  Us us;
  BOOL member = FALSE;  // owned by a group the user acts in: the administrators, for an elevated one
  if (!::EqualSid(owner, us.user.get()) && !(::CheckTokenMembership(nullptr, owner, &member) && member))
    return notYours(path, account(owner));
  DWORD written = 0;
  if (!::SetEndOfFile(file.get()) ||
      (!bytes.empty() && (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                          written != bytes.size())) ||
      !::FlushFileBuffers(file.get()))
    return failed(::GetLastError());
  return {};
}

std::optional<std::string> readSecretFile(const std::string& path, std::string* why) {
  if (namesADevice(path)) return *why = path + ": not a regular file", std::nullopt;
  Us us;
  const Descriptor d(toUtf16(path));
  if (d.error) return *why = path + ": " + systemMessage(d.error), std::nullopt;
  if (const auto other = otherAllowed(us, d.dacl, FILE_READ_DATA))
    return *why = path + ": " + *other + " may read it; only you may", std::nullopt;
  UniqueHandle file(::CreateFileW(toUtf16(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return *why = path + ": " + systemMessage(::GetLastError()), std::nullopt;
  std::string bytes(4096, '\0');
  DWORD got = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
    return *why = path + ": " + systemMessage(::GetLastError()), std::nullopt;
  bytes.resize(got);
  return bytes;
}

FileError writeWhole(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".new";
  const auto failed = [](const std::string& at) {
    const DWORD err = ::GetLastError();
    return fileError(at, static_cast<int>(err), systemMessage(err));
  };
  {
    UniqueHandle file(::CreateFileW(toUtf16(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return failed(temporary);
    DWORD written = 0;
    if ((!bytes.empty() &&
         (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
          written != bytes.size())) ||
        !::FlushFileBuffers(file.get()))
      return failed(temporary);
  }
  if (!::MoveFileExW(toUtf16(temporary).c_str(), toUtf16(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return failed(path);
  return {};
}

FileError makeReportFolder(const std::string& reportPath) {
  const std::filesystem::path folder = std::filesystem::path(toUtf16(reportPath)).parent_path();
  std::error_code ec;
  if (folder.empty() || std::filesystem::create_directories(folder, ec) || !ec) return {};
  return fileError(toUtf8(folder.wstring()), ec.value(), ec.message());
}

}  // namespace isp::production
