#include "gui/win32_station/station_settings.h"

#include <windows.h>

#include <shlobj.h>

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

// A value as text, whatever its type: a number in decimal; nothing when it
// is missing, an empty text when it holds no text.
std::optional<std::string> keptText(HKEY key, const wchar_t* name) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  if (type == REG_DWORD) {
    DWORD value = 0;
    size = sizeof value;
    RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    return std::to_string(value);
  }
  return readString(key, name, REG_SZ).value_or("");
}

}  // namespace

std::string defaultReportFolder() {
  PWSTR local = nullptr;
  std::wstring base;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local) == S_OK) base = local;
  CoTaskMemFree(local);
  return toUtf8(base + L"\\isp-programmer\\reports");
}

production::KeptSettings rememberedSettings() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  production::KeptValues kept{.file = keptText(key, L"file"),
                              .reportFolder = keptText(key, L"reportFolder"),
                              .reportFile = keptText(key, L"reportFile"),
                              .interval = keptText(key, L"interval")};
  // Ports as REG_MULTI_SZ: one name a string.
  if (const auto ports = readString(key, L"ports", REG_MULTI_SZ)) {
    kept.ports.emplace();
    for (std::size_t at = 0; at < ports->size();) {
      const std::size_t end = std::min(ports->find('\0', at), ports->size());
      kept.ports->push_back(ports->substr(at, end - at));
      at = end + 1;
    }
  }
  RegCloseKey(key);
  return production::readKept(kept);
}

std::string remember(const production::KeptSettings& settings) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return systemMessage(static_cast<DWORD>(status));
  const production::KeptValues v = production::keptValues(settings);
  std::wstring ports;
  for (const std::string& p : *v.ports) ports += toUtf16(p) + L'\0';
  for (LSTATUS st :
       {writeString(key, L"file", toUtf16(*v.file)), writeString(key, L"ports", ports, REG_MULTI_SZ),
        writeString(key, L"reportFolder", toUtf16(*v.reportFolder)),
        writeString(key, L"reportFile", toUtf16(*v.reportFile)), writeString(key, L"interval", toUtf16(*v.interval))})
    if (st != ERROR_SUCCESS) status = st;
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::string() : systemMessage(static_cast<DWORD>(status));
}

std::optional<WINDOWPLACEMENT> rememberedPlacement() {
  WINDOWPLACEMENT p{};
  DWORD type = 0, size = sizeof p;
  if (RegGetValueW(HKEY_CURRENT_USER, kKey, L"placement", RRF_RT_REG_BINARY, &type, &p, &size) != ERROR_SUCCESS ||
      size != sizeof p || p.length != sizeof p)
    return std::nullopt;
  return p;
}

void rememberPlacement(const WINDOWPLACEMENT& p) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"placement", REG_BINARY, &p, sizeof p);
}

}  // namespace isp::win32
