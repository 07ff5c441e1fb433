// The names of the updater's dialog templates, their controls and the copy animation: the one
// definition that the resource scripts (res/*.rc), the dialog code and the Windows test
// programs share. Plain #defines, since windres reads this file through the preprocessor.
// Template and clip names are bare words, as a script writes them (a quoted name there would
// run into a file name string just before it); code spells them with RESOURCE_NAME. OK and
// Cancel are the system's IDOK and IDCANCEL; -1 in a script marks a control that nothing
// addresses.
#pragma once

// The name as a string, for code: RESOURCE_NAME(IDD_MENU) is "MAINDIALOG".
#define RESOURCE_NAME(id) RESOURCE_NAME_(id)
#define RESOURCE_NAME_(id) #id
// The same for the wide calls: RESOURCE_WNAME(IDD_MENU) is L"MAINDIALOG".
#define RESOURCE_WNAME(id) RESOURCE_WIDE_(RESOURCE_NAME(id))
#define RESOURCE_WIDE_(text) RESOURCE_WIDE__(text)
#define RESOURCE_WIDE__(text) L##text

// MAINDIALOG, the main menu: slots 0 to 7 are the column from the bottom up, 8 the top-right button.
#define IDD_MENU MAINDIALOG
#define IDC_MENU_SLOT0 1000
#define IDC_MENU_SLOT1 1001
#define IDC_MENU_SLOT2 1002
#define IDC_MENU_SLOT3 1003
#define IDC_MENU_SLOT4 1004
#define IDC_MENU_SLOT5 1005
#define IDC_MENU_SLOT6 1006
#define IDC_MENU_SLOT7 1007
#define IDC_MENU_SLOT8 1008

// COPYINGDELUX, the copy-progress window: file bar, path, overall bar, animation and its clip.
#define IDD_PROGRESS COPYINGDELUX
#define IDC_PROGRESS_FILE_BAR 1010
#define IDC_PROGRESS_PATH 1012
#define IDC_PROGRESS_TOTAL_BAR 1019
#define IDC_PROGRESS_ANIMATION 1020
#define IDR_PROGRESS_CLIP AVI_FILECOPY

// SETUP, the install folder typed or browsed: the folder field and the browse button.
#define IDD_SETUP SETUP
#define IDC_SETUP_FOLDER 1000
#define IDC_SETUP_BROWSE 1021

// ENDINSTALL and ENDINSTALL_SHORT, the finish dialogs: the readme check box (ENDINSTALL only).
#define IDD_FINISH ENDINSTALL
#define IDD_FINISH_SHORT ENDINSTALL_SHORT
#define IDC_FINISH_README 1007
