#include "gui/win32_station/station_settings.h"

#include <windows.h>

#include <shlobj.h>

#include <filesystem>

#include "production/line_setup.h"
#include "serial/win32/serial_win32.h"
#include "text/utf16.h"

namespace isp::win32 {

namespace {

constexpr const wchar_t* kKey = L"Software\\isp-programmer\\isp-station";

// A string value; nothing when it is missing or no string.
std::optional<std::string> readString(HKEY key, const wchar_t* name, DWORD type = REG_SZ) {
  DWORD got = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &got, nullptr, &size) != ERROR_SUCCESS || got != type || size > 64 * 1024)
    return std::nullopt;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, name, nullptr, &got, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
    return std::nullopt;
  text.resize(size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return toUtf8(text);
}

LSTATUS writeString(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

std::string folderOf(const std::string& path) {
  return toUtf8(std::filesystem::path(toUtf16(path)).parent_path().wstring());
}

std::string reportIn(const std::string& folder) {
  return toUtf8((std::filesystem::path(toUtf16(folder)) / toUtf16(production::dailyReportName())).wstring());
}

std::string defaultReport() {
  PWSTR local = nullptr;
  std::wstring base;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local) == S_OK) base = local;
  CoTaskMemFree(local);
  return reportIn(toUtf8(base + L"\\isp-programmer\\reports"));
}

StationSettings rememberedSettings() {
  StationSettings s;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return s;
  s.file = readString(key, L"file").value_or("");
  // Ports as REG_MULTI_SZ: one name a string; a name that is no port is dropped.
  if (const auto ports = readString(key, L"ports", REG_MULTI_SZ))
    for (std::size_t at = 0; at < ports->size();) {
      const std::size_t end = std::min(ports->find('\0', at), ports->size());
      if (const std::string name = production::stationPortName(ports->substr(at, end - at)); !name.empty())
        s.ports.push_back(name);
      at = end + 1;
    }
  if (const auto folder = readString(key, L"reportFolder"); folder && !folder->empty()) s.report = reportIn(*folder);
  DWORD interval = 0, type = 0, size = sizeof interval;
  if (RegQueryValueExW(key, L"interval", nullptr, &type, reinterpret_cast<BYTE*>(&interval), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && interval <= static_cast<DWORD>(production::kMaxIntervalMs))
    s.intervalMs = static_cast<int>(interval);
  RegCloseKey(key);
  return s;
}

std::string remember(const StationSettings& s) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return systemMessage(static_cast<DWORD>(status));
  std::wstring ports;
  for (const std::string& p : s.ports) ports += toUtf16(p) + L'\0';
  const DWORD interval = static_cast<DWORD>(s.intervalMs);
  for (LSTATUS st :
       {writeString(key, L"file", toUtf16(s.file)), writeString(key, L"ports", ports, REG_MULTI_SZ),
        writeString(key, L"reportFolder", toUtf16(folderOf(s.report))),
        RegSetValueExW(key, L"interval", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&interval), sizeof interval)})
    if (st != ERROR_SUCCESS) status = st;
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::string() : systemMessage(static_cast<DWORD>(status));
}

}  // namespace isp::win32
