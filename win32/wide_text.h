#pragma once
#include <string>
#include <string_view>

// The engine speaks UTF-8; the W functions speak UTF-16.
namespace isp::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace isp::win32
