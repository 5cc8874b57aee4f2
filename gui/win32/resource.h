// Identifiers shared by the resource script and the window code; plain
// #defines, because windres reads this file too.
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT_MENU 101
#define IDD_MAIN 102
#define IDI_MAIN 128

#define IDC_LOG 1000
#define IDC_PROGRESS 1001
#define IDC_FILE 1002
#define IDC_TRANSMIT 1003
#define IDC_HELP_TEXT 1005
#define IDC_PORT 1006
#define IDC_STOP 1007

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
