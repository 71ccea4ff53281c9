// Resource ids shared by the program, its resource script, the optional chinese.dll and the
// end-to-end robot, which reaches every control by these numbers.
#pragma once

#define IDD_JOB_PAGE 100
#define IDD_MAIN_WINDOW 102
#define IDD_CONNECT_PAGE 103
#define IDD_FIRMWARE_FILE_PAGE 104
#define IDD_SAVE_SETTINGS_PAGE 105
#define IDD_BOOT_LOADER_PAGE 106
#define IDD_UPLOAD_PAGE 107
#define IDD_RESTART_PAGE 108
#define IDD_RESTORE_SETTINGS_PAGE 109
#define IDD_FINISH_PAGE 110

#define IDR_MAINFRAME 128

// Controls. Several numbers serve different controls on different pages.
#define IDC_PORT_NAME 1003     // pages 2, 5, 7: the tracker's COM port
#define IDC_FIRMWARE_PATH 1003 // page 3: the chosen firmware file
#define IDC_PROGRESS 1006      // pages 4, 6, 8
#define IDC_JOB_KEEP_SETTINGS 1007
#define IDC_JOB_UPGRADE_ONLY 1008
#define IDC_JOB_RESTORE 1009
#define IDC_START 1008       // main window
#define IDC_CHOOSE_FILE 1008 // page 3: "Открыть"
#define IDC_FINISH_FIRMWARE_TEXT 1009
#define IDC_FINISH_SETTINGS_TEXT 1010
#define IDC_FINISH_DEFAULT_TEXT 65535
