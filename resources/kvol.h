/* Identifiers shared by the Windows program's code and its templates
   (verrin.rc): controls, menu commands, bitmaps and help contexts. Plain
   #defines, since the resource compiler reads this file too. */
#ifndef VERRIN_KVOL_H
#define VERRIN_KVOL_H

/* Main window KVOLWIN: the PC pane. */
#define IDC_PC_DIR_LABEL 105
#define IDC_PC_DIR_BOX 106
#define IDC_PC_PARENT 107
#define IDC_PC_DRIVE_LABEL 108
#define IDC_PC_DRIVE_BOX 109
#define IDC_PC_HEADER 110
#define IDC_PC_LIST 111
#define IDC_PC_HSCROLL 112
/* The Mac pane. The drive box and its label keep these numbers in the
   Format dialog too, where fillMacDriveBox fills them. */
#define IDC_MAC_FOLDER_LABEL 113
#define IDC_MAC_FOLDER_BOX 114
#define IDC_MAC_PARENT 115
#define IDC_MAC_DRIVE_LABEL 116
#define IDC_MAC_DRIVE_BOX 117
#define IDC_MAC_HEADER 118
#define IDC_MAC_LIST 119
/* The four command buttons; the File menu uses the same numbers. */
#define IDC_COPY 5000
#define IDC_NEW_FOLDER 5001
#define IDC_DELETE 5002
#define IDC_INFO 5003

/* Menu commands (KVOLMENU). 2 is Exit (the Cancel command). */
#define IDM_EXIT 2
#define IDM_SELECT_ALL 200
#define IDM_DESELECT_ALL 201
#define IDM_FORMAT 210
#define IDM_OPEN_IMAGE 211
#define IDM_ABOUT 220
#define IDM_HELP 221
#define IDM_SORT_NAME 250
#define IDM_SORT_EXT_OR_TYPE 251
#define IDM_SORT_CREATOR 252
#define IDM_SORT_SIZE 253
#define IDM_SORT_DATE 254
#define IDM_MAC_COPY_SETTINGS 270
#define IDM_PC_COPY_SETTINGS 271
#define IDM_SAVE_PREFS 272
#define IDM_COPY_PREFS 273
#define IDM_KEEP_DATE 274

/* Button bitmaps, 48 x 48, 16 colours. */
#define IDB_COPY_FROM_PC 5100
#define IDB_COPY_FROM_MAC 5101
#define IDB_NEW_FOLDER 5102
#define IDB_DELETE 5103
#define IDB_INFO 5104

/* PROGRESS */
#define IDC_PROGRESS_NAME 174
#define IDC_PROGRESS_BAR 175

/* FORMAT */
#define IDC_FORMAT_NAME 300

/* PCOLLISION and MCOLLISION: OK (1) and Cancel (2) are the usual ones. */
#define IDC_COLLISION_PROMPT 320
#define IDC_COLLISION_NAME 321
#define IDC_COLLISION_NEW_NAME 322
#define IDC_COLLISION_SKIP 323
#define IDC_COLLISION_OVERWRITE 324

/* DOSINFO, DOSDIRINFO, MACINFO, MACFLDRINFO, CREATEFLD, CREATEDIR */
#define IDC_ITEM_NAME 400
#define IDC_ITEM_SIZE 401
#define IDC_ITEM_DATE 402
#define IDC_ITEM_TYPE 403
#define IDC_ITEM_CREATOR 404
#define IDC_ITEM_DATA_SIZE 405
#define IDC_ITEM_RSRC_SIZE 406

/* PREFMAC and PREFPC */
#define IDC_PREF_TRANSLATION 500
#define IDC_PREF_USE_MAP 501
#define IDC_PREF_EXTENSION 502
#define IDC_PREF_TYPE 503
#define IDC_PREF_CREATOR 504
#define IDC_PREF_COPY_DIR 505
#define IDC_PREF_FILTER 506
#define IDC_PREF_FILTER_TYPE 507
#define IDC_PREF_FILTER_CREATOR 508
#define IDC_PREF_FILTER_EXT 509
#define IDC_PREF_AUTO_RENAME 510
#define IDC_PREF_ALLOW_UPPER 511

/* ABOUT */
#define IDC_ABOUT_LINE 600
#define IDC_ABOUT_TEXT 601

/* Help file contexts. */
#define HELP_MAIN_WINDOW 1000
#define HELP_MAC_COPY_SETTINGS 1001
#define HELP_PC_COPY_SETTINGS 1002
#define HELP_FORMAT 1003

#endif
