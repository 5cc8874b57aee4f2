#pragma once

// Controls carry their dialog-template identifiers as object names
// ("IDC_TRANSMIT", "IDC_PORT", ...), so tests and accessibility tools find
// them by the names the program has always used.
namespace isp::ui {

// The about entry's command; its low four bits are ignored.
constexpr unsigned IDM_ABOUT = 0x10;

}  // namespace isp::ui
