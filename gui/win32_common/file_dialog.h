#pragma once
#include <windows.h>

#include <optional>
#include <string>

// The system's own choosers, shared by every Win32 window of the project.
namespace isp::win32 {

// The standard open-file dialog with the firmware filters; the chosen
// file's full path in UTF-8, or nothing when the user cancels.
std::optional<std::string> chooseFirmwareFile(HWND owner);

// The standard save-file dialog, titled `title`, for a file of `pattern`
// ("*.json") under `label`, asking before an existing file is replaced;
// the chosen path in UTF-8, or nothing when the user cancels.
std::optional<std::string> chooseFileToSave(HWND owner, const std::string& title, const std::string& label,
                                            const std::wstring& pattern);

// The system's folder chooser, titled `title` (UTF-8), starting nowhere in
// particular; the folder's path in UTF-8, or nothing when the user cancels.
std::optional<std::string> chooseFolder(HWND owner, const std::string& title);

}  // namespace isp::win32
