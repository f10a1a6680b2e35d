// The error word and the message table. Calls nothing.
#include "base/errors.h"

#include <cstdio>

namespace verrin {

int32_t lastError = errNone;

namespace {

struct ErrorRow {
    int32_t code;
    const char* message;
};

constexpr ErrorRow errorTable[] = {
    {errMacDiskFull, "Mac disk ran out of room"},
    {errNoMemory, "Insufficient memory for that operation"},
    {errMacRead, "Error reading Mac disk"},
    {errMacWrite, "Error writing to Mac disk"},
    {errVolumeReadOnly, "Mac volume is read only"},
    {errBadNode, "Error Locating Node. Disk may be corrupt. (Use a disk diagnostic on the Mac.)"},
    {errNoHfsVolume, "No Mac HFS volumes found"},
    {errNameExists, "Name already exists"},
    {errNotSupported, "Function not supported on this device"},
    {errFormat, "Error formatting disk"},
    {errTooManyOpen, "Too many files open."},
    {errDriveNotReady, "Drive not ready (check media)"},
    {errMacCreate, "Could not create file/folder"},
    {errMacDelete, "Could not delete file/folder"},
    {errWrongFileType, "Wrong type of file for this translation"},
    {errDamagedFile, "The file is damaged (checksum mismatch or data missing)"},
    {errLockFailed, "Could not lock Mac disk"},
    {errPcDiskFull, "PC disk ran out of room"},
    {errPcOpen, "Could not open PC file"},
    {errPcRead, "Error reading PC disk"},
    {errPcWrite, "Error writing to PC disk"},
    {errPcCreate, "Could not create file/directory"},
    {errPcDelete, "Could not delete file/directory"},
};

}  // namespace

const char* errorMessage(int32_t code)
{
    for (const ErrorRow& row : errorTable)
        if (row.code == code) return row.message;
    return nullptr;
}

const char* errorText(int32_t code)
{
    if (code == errNone || code == errCancelled) return "";
    if (const char* m = errorMessage(code)) return m;
    static char misc[40];
    std::snprintf(misc, sizeof misc, "Misc error: %d", static_cast<int>(code));
    return misc;
}

}  // namespace verrin
