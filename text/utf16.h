#pragma once
#include <string>
#include <string_view>

// Windows speaks UTF-16; everything else in this program holds UTF-8.
namespace isp {

std::wstring toUtf16(std::string_view utf8);
std::string toUtf8(std::wstring_view utf16);

}  // namespace isp
