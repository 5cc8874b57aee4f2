#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace isp::win32 {

// The standard open-file dialog with the firmware filters; the chosen
// file's full path in UTF-8, or nothing when the user cancels.
std::optional<std::string> chooseFirmwareFile(HWND owner);

}  // namespace isp::win32
