// Resource ids of install.exe, shared by the .rc files and the program.
#pragma once

// Wizard pages: English and Japanese templates.
#define IDD_DESTINATION 100
#define IDD_DESTINATION_J 101
#define IDD_UNINSTALL 102
#define IDD_UNINSTALL_J 103
#define IDD_COPYING 105
#define IDD_COPYING_J 106
#define IDD_BROWSE 108
#define IDD_BROWSE_J 109
#define IDD_OPTIONS 110
#define IDD_OPTIONS_J 111

#define IDI_UNINSTALL 113
#define IDI_INSTALL 114

#define IDC_PROMPT 1000
#define IDC_PATH 1001
#define IDC_BROWSE 1002
#define IDC_ABOUT 1003
#define IDC_PROGRESS 1004
#define IDC_DESKTOP 1006
#define IDC_STARTMENU 1007
#define IDC_COPYING 1008
#define IDC_UNINSTALLING 1009
#define IDC_COPYINFO 1010

// The private command that runs the next copying step.
#define IDM_NEXTSTEP 2000
