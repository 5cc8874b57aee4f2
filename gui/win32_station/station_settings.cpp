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

// The key's values: a number kept as REG_DWORD (as earlier versions did)
// read as decimal text, a list as REG_MULTI_SZ, one item a string.
class Registry final : public production::SettingsStore {
 public:
  // Opened to read, it is not made: a first run leaves the registry as it was.
  explicit Registry(REGSAM access) {
    const LSTATUS st = access == KEY_READ
                           ? RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, access, &key_)
                           : RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, access, nullptr, &key_, nullptr);
    if (st != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Registry() override {
    if (key_) RegCloseKey(key_);
  }
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;
  LSTATUS status() const { return key_ ? status_ : ERROR_ACCESS_DENIED; }

  std::optional<std::string> text(const char* name) override {
    DWORD type = 0, value = 0, size = sizeof value;
    const std::wstring n = toUtf16(name);
    if (RegQueryValueExW(key_, n.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return std::nullopt;
    if (type == REG_DWORD &&
        RegQueryValueExW(key_, n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS)
      return std::to_string(value);
    return readString(key_, n.c_str(), REG_SZ).value_or("");
  }
  std::optional<std::vector<std::string>> list(const char* name) override {
    const auto all = readString(key_, toUtf16(name).c_str(), REG_MULTI_SZ);
    if (!all) return std::nullopt;
    std::vector<std::string> items;
    for (std::size_t at = 0; at < all->size();) {
      const std::size_t end = std::min(all->find('\0', at), all->size());
      items.push_back(all->substr(at, end - at));
      at = end + 1;
    }
    return items;
  }
  void set(const char* name, const std::string& text) override { write(name, toUtf16(text), REG_SZ); }
  void set(const char* name, const std::vector<std::string>& list) override {
    std::wstring items;
    for (const std::string& item : list) items += toUtf16(item) + L'\0';
    write(name, items, REG_MULTI_SZ);
  }

 private:
  void write(const char* name, const std::wstring& text, DWORD type) {
    const LSTATUS st = RegSetValueExW(key_, toUtf16(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (st != ERROR_SUCCESS) status_ = st;
  }
  HKEY key_ = nullptr;
  LSTATUS status_ = ERROR_SUCCESS;
};

}  // namespace

std::string defaultReportFolder() {
  PWSTR local = nullptr;
  std::wstring base;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local) == S_OK) base = local;
  CoTaskMemFree(local);
  return toUtf8(base + L"\\isp-programmer\\reports");
}

production::KeptSettings rememberedSettings() {
  Registry key(KEY_READ);
  return key.status() == ERROR_SUCCESS ? production::readKept(key) : production::KeptSettings{};
}

std::string remember(const production::KeptSettings& settings) {
  Registry key(KEY_READ | KEY_WRITE);
  if (key.status() == ERROR_SUCCESS) production::keep(key, settings);
  return key.status() == ERROR_SUCCESS ? std::string() : systemMessage(static_cast<DWORD>(key.status()));
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
