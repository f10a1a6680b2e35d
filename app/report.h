// Reporting the error word at the end of a user command.
//
// One message box for the pending code (none for errCancelled), then the
// word is cleared and the volume's cache is brought back in line with the
// disk, so a failed or cancelled command leaves the volume as it was at its
// last flush. Calls the error table, the UI seam and the volume engine.
#pragma once

namespace verrin {

// Shows the pending error, clears lastError and reverts the volume's
// unflushed changes. errDriveNotReady closes the Mac side before its
// message; a revert that fails closes the Mac side silently.
void reportLastError();

// Closing the Mac side: by default the Mac pane's closeMacPane (the cache
// is freed, the volume forgotten and the pane emptied). Tests may install
// their own routine; null restores the default.
using CloseMacSideRoutine = void (*)();
void setCloseMacSide(CloseMacSideRoutine routine);
void closeMacSide();

}  // namespace verrin
