// Ending a user command: writing its changes, and reporting the error word.
//
// The one routine every front end ends a command with: the window gives no
// context, the command line the path or item the command worked on. One
// message for the pending code (none for errCancelled), then the word is
// cleared and the volume's cache is brought back in line with the disk, so
// a failed or cancelled command leaves the volume as it was at its last
// flush. Calls the error table, the UI seam and the volume engine.
#pragma once

#include <cstdint>

namespace verrin {

// Shows the pending error, clears lastError and reverts the volume's
// unflushed changes. `context`, when given, is the message's caption (the
// command line's headless interface prints it before the message); the
// window gives none and the box has the system's caption. errDriveNotReady
// closes the Mac side before its message; a revert that fails closes the
// Mac side silently. Returns the code that was pending (errNone when there
// was none: then nothing happens).
int32_t reportLastError(const char* context = nullptr);

// Ends a command that changes the volume: writes its changes (flushVolume)
// when no error is pending, then reports what is pending as
// reportLastError does. True when the command and the flush succeeded.
bool finishCommand(const char* context = nullptr);

// Closing the Mac side: by default the Mac pane's closeMacPane (the cache
// is freed, the volume forgotten and the pane emptied). Tests may install
// their own routine; null restores the default.
using CloseMacSideRoutine = void (*)();
void setCloseMacSide(CloseMacSideRoutine routine);
void closeMacSide();

}  // namespace verrin
