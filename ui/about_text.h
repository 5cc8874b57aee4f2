#pragma once
#include <string>
#include <string_view>

// The about box's texts, UTF-8, lines ended by "\r\n".
namespace isp::ui {

inline constexpr std::string_view kAboutMenu = "О программе...";
inline constexpr std::string_view kAboutCaption = "О программе";
inline constexpr std::string_view kAboutTitle = "Запись внутренней программы устройства\r\nВерсия 1.04";

// The help text, built afresh each time from its twelve pieces.
std::string aboutHelpText();

}  // namespace isp::ui
