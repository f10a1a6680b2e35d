// The Windows program's side of the user-interface seam: message boxes over
// the main window, the two name-collision dialogs (PCOLLISION, MCOLLISION),
// the progress window and the message pump, the panes shown again after
// their records changed, and the copy settings dialog shown before a copy.
// Calls Win32, the seam, the progress window, the panes, the dialogs and
// the name rules.
#pragma once

#include <windows.h>

namespace verrin {

// Installs the table; called once the main window exists.
void installWin32Ui();

// Puts the PC-name filter in front of an edit control: characters a PC file
// name may not hold are swallowed as they are typed. Only one field carries
// it at a time (the dialogs that use it are modal).
void filterPcNameField(HWND edit);

}  // namespace verrin
