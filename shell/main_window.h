// The Windows program's main window: program entry, the main dialog and its
// command dispatch, the active side, and the state the other windows of the
// program read (the module, the main window handle).
//
// The main window is a modal dialog from the template KVOLWIN of the window
// class KvolClass. Its dialog procedure is the program's one dispatcher: it
// hands commands to the panes, the batch commands, the dialogs, the drive
// layer and the settings. Calls the other shell modules, app/ and the layers
// below.
#pragma once

#include <windows.h>

#include <cstdint>

namespace verrin {

extern HINSTANCE appInstance;
// Set while the main window initialises; the owner of message boxes and of
// the progress window.
extern HWND mainWindow;

// 1: the PC side is active, 0: the Mac side. The side decides which list
// Select All and the four commands act on, which labels are grey, and the
// texts of the command buttons and of the File and Sort By menus.
enum Side : int { macSide = 0, pcSide = 1 };
extern int activeSide;
void setActiveSide(HWND window, int side);

// Moves the selection of list 111 or 119 to the next entry after the caret
// whose name starts with c (ASCII letters compared without case), wrapping
// around; nothing changes when no entry matches.
void jumpToLetter(HWND window, int listId, char c, int caret);

// Opens the help file at a context number (0: its contents). Says so in a
// message box when the file or a viewer for it is missing.
void openHelp(HWND owner, uint32_t context);

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace verrin
