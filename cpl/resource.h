// Identifiers of the control panel's resources and of its dialog's controls.
#pragma once

#define IDR_MAINFRAME 128
#define IDB_LOGO 133
#define IDD_TARNLINK_CPL_DIALOG 102

#define IDC_DEVICE_LIST 1000
#define IDC_BUFFER_SLIDER 1001
#define IDC_SETTING_GROUP 1002
#define IDC_BUFFER_LABEL 1004
#define IDC_BUFFER_SIZE 1005
#define IDC_RATE_COMBO 1006
#define IDC_LOGO 1008
#define IDC_INFORMATION 1009
#define IDC_RATE_LABEL 1010
