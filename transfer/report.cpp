// Error reporting. See report.h. Calls the error table (hfs/errors.h), the
// UI seam (shell/ui.h) and the engine's revertVolume and closeVolume.
#include "transfer/report.h"

#include "hfs/errors.h"
#include "hfs/hfs.h"
#include "shell/ui.h"

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
        closeVolume();
}

void reportLastError()
{
    const int32_t code = lastError;
    if (code == errNone) return;
    if (code == errDriveNotReady) closeMacSide();
    if (code != errCancelled) messageBox(errorText(code), nullptr, uiOk, uiIconWarning);

    lastError = errNone;
    revertVolume();
    if (lastError != errNone) {
        // The disk could not be read back: drop the volume rather than keep
        // sectors that no longer match it.
        lastError = errNone;
        closeMacSide();
    }
}

}  // namespace verrin
