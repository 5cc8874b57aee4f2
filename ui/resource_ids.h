#pragma once

// Identifiers of the two dialogs and their controls, kept as the program has
// always numbered them; tests and accessibility tools find controls by them.
namespace isp::ui {

constexpr int IDD_ABOUT = 100;
constexpr int IDS_ABOUT_MENU = 101;
constexpr int IDD_MAIN = 102;
constexpr int IDI_MAIN = 128;
constexpr int IDM_ABOUT = 0x10;

constexpr int IDOK = 1;
constexpr int IDC_LOG = 1000;
constexpr int IDC_PROGRESS = 1001;
constexpr int IDC_FILE = 1002;
constexpr int IDC_TRANSMIT = 1003;
constexpr int IDC_HELP_TEXT = 1005;
constexpr int IDC_PORT = 1006;
constexpr int IDC_STOP = 1007;

}  // namespace isp::ui
