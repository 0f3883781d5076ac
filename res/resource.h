// Resource and control ids of the setup program.
#pragma once

#define IDD_SETUP 102
#define IDI_SETUP 128

#define IDC_INSTALL 1000
#define IDC_INSTALL_PATH 1002
#define IDC_MESSAGES 1003
#define IDC_ACCEPT 1010
#define IDC_AGREEMENT 1019
#define IDC_DUMMY 1021
#define IDC_PROGRESS 1022
#define IDC_DESKTOP_ICONS 1023
