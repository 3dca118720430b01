// Resource ids of VelmoraRes.dll, shared by the resource script and the agent.
// The numbers are fixed: the agent finds every text, template, picture and
// menu command by them.
#pragma once

// Strings
#define IDS_APP_TITLE            1
#define IDS_TRAY_TIP             2
#define IDS_EXIT_QUESTION        3
#define IDS_CALIBRATION_NOTICE   4
#define IDS_CALIBRATION_DONE     5
#define IDS_DRIVER_MISSING       6
#define IDS_WARNING_TEXT         7
#define IDS_DEVICE_BUSY          8
#define IDS_WARNING_CHECKBOX     9
#define IDS_INSERT_PAPER         10
#define IDS_PROGRESS_SCANNING    11
#define IDS_PROGRESS_CANCEL      12
#define IDS_CONTINUOUS_PROMPT    13
#define IDS_PROGRESS_TONE        14
#define IDS_IMAGEFOLIO_MISSING   17
#define IDS_ROTATE_NONE          18
#define IDS_ROTATE_90            19
#define IDS_ROTATE_270           20
#define IDS_ROTATE_180           21
#define IDS_SCAN_MODE_COLOUR     24
#define IDS_FORMAT_JPEG          26
#define IDS_BROWSE_TITLE         29
#define IDS_PAPER_SIZE           30
#define IDS_RESCAN_NOTICE        31
#define IDS_SCAN_KEPT            32

// Icons and bitmaps
#define IDI_PROGRAM              101
#define IDB_WARNING_SCANNER      102
#define IDB_WARNING_CABLE        103
#define IDB_WARNING_POWER        104
#define IDB_INSERT_PAPER         105
#define IDI_CONNECTED            106
#define IDI_NOT_CONNECTED        107

// Tray menu: submenu 0 holds the commands
#define IDM_TRAY                 110
#define IDM_CALIBRATE            40001
#define IDM_CLEAN                40002
#define IDM_SETTINGS             40003
#define IDM_ENABLE_WARNING       40004
#define IDM_EXIT                 40005

// Dialog templates
#define IDD_SETTINGS             111
#define IDD_WARNING              112
#define IDD_WAIT_PROMPT          113
#define IDD_INSERT_PAPER         114
#define IDD_PROGRESS             115

// Scanner-missing warning (112), with IDOK
#define IDC_WARNING_PICTURE_2    1001
#define IDC_WARNING_PICTURE_1    1002
#define IDC_WARNING_TEXT         1003
#define IDC_WARNING_PICTURE_3    1004
#define IDC_WARNING_CHECKBOX     1005

// Continuous-scan prompt (113), with IDOK
#define IDC_WAIT_PROMPT_FRAME    1006
#define IDC_WAIT_PROMPT_TEXT     1007

// Insert paper (114), with IDCANCEL
#define IDC_INSERT_PAPER_PICTURE 1008
#define IDC_INSERT_PAPER_TEXT    1009

// Progress (115)
#define IDC_PROGRESS_FRAME       1010
#define IDC_PROGRESS_TEXT        1011
#define IDC_PROGRESS_BAR         1012
#define IDC_PROGRESS_PERCENT     1013
#define IDC_PROGRESS_CANCEL      1014

// Settings (111), with IDOK
#define IDC_SETTINGS_SCAN_MODE   1015
#define IDC_SETTINGS_PAPER_SIZE  1016
#define IDC_SETTINGS_RESOLUTION  1017
#define IDC_SETTINGS_FORMAT      1018
#define IDC_SETTINGS_BRIGHTNESS  1019
#define IDC_SETTINGS_CONTRAST    1020
#define IDC_SETTINGS_GAMMA       1021
#define IDC_SETTINGS_BRIGHTNESS_VALUE 1022
#define IDC_SETTINGS_CONTRAST_VALUE   1023
#define IDC_SETTINGS_GAMMA_VALUE      1024
#define IDC_SETTINGS_AUTOCROP    1025
#define IDC_SETTINGS_AUTODESKEW  1026
#define IDC_SETTINGS_CONTINUOUS  1027
#define IDC_SETTINGS_ROTATE      1028
#define IDC_SETTINGS_SAVE_PATH   1029
#define IDC_SETTINGS_BROWSE      1030
#define IDC_SETTINGS_PREFIX      1031
