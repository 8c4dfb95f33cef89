// Resource IDs shared by the resource script and the code.
#pragma once

// Dialog templates: the page IDs of the wizard and the progress dialog.
#define IDD_PRINTER_SELECTION 130
#define IDD_INTRO 131
#define IDD_LOG_DETAILS 132
#define IDD_READING_LOG 134
#define IDD_FINISH 136

// Icon of the wizard window.
#define IDI_TRAWLER 5

// Strings; 103 to 106 and 109 to 116 have an English and a Japanese version.
#define IDS_CAPTION 102
#define IDS_INTRO_TEXT 103
#define IDS_SELECT_TEXT 104
#define IDS_DETAILS_TEXT 105
#define IDS_READING_TEXT 106
#define IDS_LEGAL_NOTICE 107
#define IDS_FINISH_TEXT 108
#define IDS_RECORDING_NOT_WRITTEN 109
// The finish page's line about the support desk, shown only when a desk is configured.
#define IDS_DESK_SENDING 110
#define IDS_DESK_SENT 111
#define IDS_DESK_UNREACHABLE 112
#define IDS_DESK_TOKEN_REFUSED 113
#define IDS_DESK_NOT_SENT 114
#define IDS_DESK_SENT_LATER 115
#define IDS_DESK_SETTINGS_UNUSABLE 116

// Controls.
#define IDC_SELECT_TEXT 1001
#define IDC_PRINTER_LIST 1002
#define IDC_RESEARCH 1003
#define IDC_DETAILS_TEXT 1004
#define IDC_FOLDER 1005
#define IDC_BROWSE 1006
#define IDC_INTRO_TEXT 1007
#define IDC_CUSTOMER 1007
#define IDC_COMMENT 1008
#define IDC_READING_TEXT 1008
#define IDC_PROGRESS 1009
#define IDC_VERSION 1010
#define IDC_NOTICE 1011
#define IDC_FINISH_TEXT 1012
#define IDC_DESK_STATUS 1013
