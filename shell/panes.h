// The window side of the two panes: the pane records of app/ shown in the
// main window's lists, boxes and labels. The records announce their
// changes through the user-interface seam (showPaneParts); each list line
// is formatted by app/ when it is drawn. Calls Win32 and the pane models.
#pragma once

#include <windows.h>

#include <cstddef>

namespace verrin {

// Shows the parts of the panes that changed (PanePart bits of base/ui.h).
void showPaneParts(HWND window, unsigned parts);

// The text of line `index` of list 111 or 119; false when there is none.
bool paneLineText(int listId, int index, char* line, size_t capacity);
// The first character of the name of entry `index` (the stored Mac Roman
// byte for the Mac list); -1 when there is none.
int paneEntryFirstChar(int listId, int index);

// The drive boxes: the PC drives with the current one selected, and the
// Mac drive table (of the main window or the Format dialog) without a
// selection.
void fillPcDriveBox(HWND window);
void fillMacDriveBox(HWND dialog);

// True while a Mac volume is mounted.
bool macVolumeMounted();
// Back to the Mac drive list: no volume, empty list and folder box, the
// drive box refilled.
void resetMacSide(HWND window);

}  // namespace verrin
