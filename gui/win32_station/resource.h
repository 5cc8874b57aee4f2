// Identifiers shared by the resource script and the window code; plain
// #defines, because windres reads this file too.
#pragma once

#define IDI_MAIN 128
#define IDR_KEYS 129

#define IDC_FILE 1000
#define IDC_CHOOSE_FILE 1001
#define IDC_FILE_FACTS 1002
#define IDC_PORTS 1003
#define IDC_REPORT 1004
#define IDC_CHOOSE_FOLDER 1005
#define IDC_INTERVAL 1006
#define IDC_INTERVAL_SPIN 1007
#define IDC_START 1010
#define IDC_STOP 1011
#define IDC_STATUS 1012
#define IDC_FILE_CHANGED 1013
#define IDC_TOTALS 1014
#define IDC_ROWS 1015
#define IDC_KEPT 1016
#define IDC_SAVE_LINE 1017
#define IDC_LINE_NOTE 1018
#define IDC_BROKER 1019
#define IDC_BROKER_STATE 1030
#define IDC_LABEL 1020
#define IDC_FIRST_TILE 2000
