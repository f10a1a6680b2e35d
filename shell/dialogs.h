// The program's modal dialogs: Format, the copy settings, the item
// information and creation dialogs, and the four item commands that open
// them or run the batch commands. The decisions the dialogs take on OK come
// from app/; these procedures move values between the templates and that
// logic. Calls Win32, app/ and the layers below.
#pragma once

#include <windows.h>

namespace verrin {

// The Format dialog (FORMAT): the chosen drive's index, with the new
// volume name stored, or -1.
int runFormatDialog(HWND owner);

// "Mac to PC Copy Settings" (PREFMAC) when macToPc, else "PC to Mac Copy
// Settings" (PREFPC); true for OK, which stored the values.
bool runCopySettingsDialog(HWND owner, bool macToPc);

// Copy, New Folder, Delete or Item Info on the active side, after the main
// window's checks have passed.
void runItemCommand(HWND window, int command, int side);

}  // namespace verrin
