#pragma once
#include <string>
#include <string_view>

#include "resources/isp_version.h"

// The about box's texts, the same in both dialogs: UTF-8, lines ended by "\r\n".
namespace isp {

inline constexpr std::string_view kAboutMenu = "О программе...";
inline constexpr std::string_view kAboutCaption = "О программе";
inline constexpr std::string_view kAboutTitle = ISP_ABOUT_TITLE;

// The about entry's command in the system menu; the system ignores its low
// four bits, so 0x10 to 0x1F all mean it.
inline constexpr unsigned IDM_ABOUT = 0x10;

// The help text, built afresh each time from its twelve pieces.
std::string aboutHelpText();

}  // namespace isp
