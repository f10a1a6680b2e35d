// The window side of the two panes: the PC drive and directory boxes, the
// drive labels, the Mac drive box, and the lines of the two lists. The
// entries themselves, their order and the text of each line come from the
// pane models of app/. Calls Win32, the pane models, the drive table and
// the size formatter.
#pragma once

#include <windows.h>

#include <cstddef>

#include "app/panes.h"

namespace verrin {

// The text of line `index` of list 111 or 119; false when there is none.
bool paneLineText(int listId, int index, char* line, size_t capacity);

// The first character of the name of entry `index` (the stored Mac Roman
// byte for the Mac list); -1 when there is none.
int paneEntryFirstChar(int listId, int index);

// The PC pane.
void fillPcDriveBox(HWND window);
void fillPcDirectoryBox(HWND window);
void updatePcDriveLabel(HWND window);
void rebuildPcPane(HWND window);
// rebuildPcPane keeping the list's first visible line.
void refreshPcPane(HWND window);

// The Mac pane: the drive box of the main window or of the Format dialog,
// filled from the drive table; says so when the table is empty.
void fillMacDriveBox(HWND dialog);
// True while a Mac volume is mounted.
bool macVolumeMounted();
// The Mac pane's navigation, as the main window's controls ask for it: a
// drive chosen in the drive box, an ancestor chosen in the folder box, the
// ".." button, and a double-click (or Enter) in the list. Errors are
// reported and followed by resetMacSide.
void macDriveChosen(HWND window);
void macFolderBoxChosen(HWND window);
void macParentFolder(HWND window);
void openMacListEntry(HWND window);
// List the shown folder again in the order in force.
void relistMacFolder(HWND window);
// A double-click (or Enter) in the PC list: a directory is entered, a file
// shows its information.
void openPcListEntry(HWND window);

// Back to the drive list: no volume, empty list and folder box, the drive
// box refilled, the Mac ".." disabled.
void resetMacSide(HWND window);

}  // namespace verrin
