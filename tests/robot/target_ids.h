// Control ids of the robot's test target, shared by its code and its dialog template.
#pragma once

#define IDD_TARGET 200
#define IDC_RADIO_FIRST 1007
#define IDC_RADIO_SECOND 1008
#define IDC_PATH 1003
#define IDC_OPEN 1010
#define IDC_FREE_TEXT 1004
#define IDC_PROGRESS 1006
#define IDC_DEVICE_COUNT 1020
#define IDC_HIDDEN 1011
#define IDC_ASK 1012
#define IDC_REOPEN 1013
#define IDC_CRASH 1014
