// What Windows keeps of the USB device behind a COM port: the hardware id
// ("USB\VID_0403&PID_6001"), the maker, the product's name, the instance's
// serial number and where it is plugged in. Asked of the device tree, not
// of the port: nothing is opened.
#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <cwchar>
#include <string>

#include "serial/win32/serial_win32.h"
#include "text/utf16.h"

namespace isp {

namespace {

std::wstring property(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD which) {
  wchar_t text[512] = L"";
  DWORD type = 0;
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, which, &type, reinterpret_cast<BYTE*>(text), sizeof text - 2,
                                           nullptr))
    return {};
  return text;  // a multi-string's first string, or the string
}

// "VID_0403" in "USB\VID_0403&PID_6001&REV_0600": the four hex digits after key.
std::string idAfter(const std::wstring& id, const wchar_t* key) {
  const std::size_t at = id.find(key);
  return at == std::wstring::npos || at + 8 > id.size() ? std::string() : toUtf8(id.substr(at + 4, 4));
}

}  // namespace

Adapter usbFacts(const std::string& comName) {
  Adapter a;
  HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return a;
  const std::wstring wanted = toUtf16(comName);
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
    HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t name[64] = L"";
    DWORD size = sizeof name - 2, type = 0;
    const bool ours =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ && ::_wcsicmp(name, wanted.c_str()) == 0;
    ::RegCloseKey(key);
    if (!ours) continue;
    const std::wstring hardware = property(set, info, SPDRP_HARDWAREID);
    a.vendorId = idAfter(hardware, L"VID_");
    a.productId = idAfter(hardware, L"PID_");
    a.maker = toUtf8(property(set, info, SPDRP_MFG));
    a.product = toUtf8(property(set, info, SPDRP_FRIENDLYNAME));
    a.usbPath = toUtf8(property(set, info, SPDRP_LOCATION_INFORMATION));
    // "USB\VID_0403&PID_6001\A50285BI": a USB device's instance ends in its serial number.
    wchar_t instance[512] = L"";
    if (hardware.rfind(L"USB\\", 0) == 0 &&
        ::SetupDiGetDeviceInstanceIdW(set, &info, instance, sizeof instance / sizeof instance[0], nullptr)) {
      const std::wstring id = instance;
      const std::wstring last = id.substr(id.find_last_of(L'\\') + 1);
      if (last.find(L'&') == std::wstring::npos) a.serial = toUtf8(last);  // "&": Windows' own number, no serial
    }
    break;
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return a;
}

}  // namespace isp
