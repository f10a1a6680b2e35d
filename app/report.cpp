// Ending a command and reporting its error. See report.h. Calls the error
// table (base/errors.h), the UI seam (base/ui.h), the engine's flushVolume
// and revertVolume, and the Mac pane's closeMacPane.
#include "app/report.h"

#include "app/panes.h"
#include "base/errors.h"
#include "base/ui.h"
#include "hfs/hfs.h"

namespace verrin {

namespace {

CloseMacSideRoutine closeRoutine = nullptr;

}  // namespace

void setCloseMacSide(CloseMacSideRoutine routine) { closeRoutine = routine; }

void closeMacSide()
{
    if (closeRoutine)
        closeRoutine();
    else
        closeMacPane();
}

int32_t reportLastError(const char* context)
{
    const int32_t code = lastError;
    if (code == errNone) return code;
    if (code == errDriveNotReady) closeMacSide();
    if (code != errCancelled) messageBox(errorText(code), context && *context ? context : nullptr, uiOk, uiIconWarning);

    lastError = errNone;
    revertVolume();
    if (lastError != errNone) {
        // The disk could not be read back: drop the volume rather than keep
        // sectors that no longer match it.
        lastError = errNone;
        closeMacSide();
    }
    return code;
}

bool finishCommand(const char* context)
{
    if (lastError == errNone) flushVolume();
    return reportLastError(context) == errNone;
}

}  // namespace verrin
