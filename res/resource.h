// res/: the resources of Starter.exe and starter.dll and the layout table; includes nothing of the program.
// Resource and command ids of Starter.exe and the bitmap ids of starter.dll, in numbered blocks.
#pragma once

// Numbers as text: a description text names its picture, the version shows in texts.
#define TEXT_OF_NUMBER(n) #n
#define TEXT_OF(n) TEXT_OF_NUMBER(n)
// STARTER_VERSION (1.02) and its parts come from the project() line of CMakeLists.txt.
#define STARTER_VERSION_TEXT TEXT_OF(STARTER_VERSION)

// 100: application strings, menu, accelerators, about box
#define IDS_APP_TITLE        103
#define IDD_ABOUT            103
#define IDM_ABOUT            104
#define IDM_EXIT             105
#define IDI_ABOUT_ICON       107
#define IDS_CLASS_NAME       109
#define IDR_MAIN_MENU        109
#define IDR_ACCELERATORS     109
#define IDD_STATUS           134
#define IDI_STARTER_LARGE    192
#define IDI_STARTER_SMALL    193

// 110: words of the error box, the same in every language
#define IDS_ERROR_CAPTION    110
#define IDS_LINE_LABEL       111
#define IDS_FILE_LABEL       112
#define IDS_INFO_CAPTION     113   // caption of the success boxes of the plane exchange
#define IDS_HISCORE_CAPTION  114   // caption of the rank box

// 9, 1000: dialogs and their controls
#define IDD_OPTIONS          9
#define IDC_MAIL_EDIT        1001
#define IDC_MAIL_NOTE        1002
#define IDC_STATUS_PROGRESS  1003
#define IDC_BROWSER_LIST     1004
#define IDC_PAGE_BACK        1005
#define IDC_PAGE_FORWARD     1006
#define IDC_STATUS_TEXT      1017

// 1500: main window buttons
#define IDC_PLAY             1500
#define IDC_EXIT             1501
#define IDC_HISCORE          1502
#define IDC_DOWNLOAD         1503
#define IDC_UPLOAD           1504
#define IDC_OPTIONS          1505
#define IDC_DESCRIPTION      1506

// 10000: localized texts, by base id (German block); English +5000, French +10000
#define IDS_LANGUAGE_STRIDE  5000
#define IDS_MAIL_NOTE        10015
#define IDS_CONNECTING_NET   10016
#define IDS_CLOSING_NET      10017
#define IDS_CONNECTING_SRV   10018
#define IDS_TRANSMIT_DATA    10019
#define IDS_OPENING_FILE     10020
#define IDS_TRANSMIT_FILE    10021
#define IDS_RANK             10022
#define IDS_RANK_TOP         10023
#define IDS_PLANE_RECEIVED   10024
#define IDS_PLANE_SENT       10025
#define IDS_NO_HISCORE_FILE  10026
#define IDS_NO_GAME          10027
#define IDS_NO_INTERNET      10028
#define IDS_TRANSFER_ERROR   10029
#define IDS_NO_LIBRARY       10030
#define IDS_ERROR_WORD       10031
#define IDS_COL_COSTS        10032
#define IDS_COL_WEIGHT       10033
#define IDS_COL_CONSUMPTION  10035
#define IDS_COL_NOISE        10036
#define IDS_COL_RELIABILITY  10038
#define IDS_COL_VELOCITY     10039
#define IDS_COL_NAME         10040
#define IDS_COL_RANGE        10041
#define IDS_NOISE_FIRST      10042   // 42..48, quietest to loudest
#define IDS_RELIABILITY_FIRST 10049  // 49..57, worst to best
#define IDS_DESC_OPTIONS     10061   // 61..67 hold description bitmap ids as text
#define IDS_DESC_HISCORE     10062
#define IDS_DESC_UPLOAD      10063
#define IDS_DESC_DOWNLOAD    10064
#define IDS_DESC_PLAY        10065
#define IDS_DESC_EXIT        10066
#define IDS_DESC_DEFAULT     10067
// What a screen reader says of the buttons, by row of the button table: the words of the action
// (70..79), and the sentence its description picture shows (80..89); 90 is that of the welcome picture.
#define IDS_BUTTON_NAME_FIRST 10070
#define IDS_BUTTON_NOTE_FIRST 10080
#define IDS_WELCOME_NOTE     10090

// starter.dll bitmaps, drawn at 100 %; the same pictures drawn at 150 % and 200 % have these ids
// plus the offset of their set
#define IDB_SET_150_OFFSET   1000
#define IDB_SET_200_OFFSET   2000
#define IDB_MAIN             3
#define IDB_BIG_BUTTON       170
#define IDB_BIG_BUTTON_HOVER 171
#define IDB_UPLOAD           172
#define IDB_UPLOAD_HOVER     173
#define IDB_SMALL_BUTTON     174
#define IDB_SMALL_BUTTON_HOVER 175
#define IDB_OK               176
#define IDB_OK_HOVER         177
#define IDB_CANCEL           178
#define IDB_CANCEL_HOVER     179
#define IDB_PAGE_BACK        180
#define IDB_PAGE_BACK_HOVER  181
#define IDB_PAGE_FORWARD     182
#define IDB_PAGE_FORWARD_HOVER 183

// starter.dll description pictures, seven a language; texts IDS_DESC_* name them by number
#define IDB_DESC_DE_OPTIONS      140
#define IDB_DESC_DE_HISCORE      141
#define IDB_DESC_DE_UPLOAD       142
#define IDB_DESC_DE_DOWNLOAD     143
#define IDB_DESC_DE_EXIT         144
#define IDB_DESC_DE_PLAY         145
#define IDB_DESC_DE_WELCOME      146
#define IDB_DESC_EN_OPTIONS      150
#define IDB_DESC_EN_HISCORE      151
#define IDB_DESC_EN_UPLOAD       152
#define IDB_DESC_EN_DOWNLOAD     153
#define IDB_DESC_EN_EXIT         154
#define IDB_DESC_EN_PLAY         155
#define IDB_DESC_EN_WELCOME      156
#define IDB_DESC_FR_OPTIONS      160
#define IDB_DESC_FR_HISCORE      161
#define IDB_DESC_FR_UPLOAD       162
#define IDB_DESC_FR_DOWNLOAD     163
#define IDB_DESC_FR_EXIT         164
#define IDB_DESC_FR_PLAY         165
#define IDB_DESC_FR_WELCOME      166
