// The process-wide error word and its codes.
//
// Every layer reports a failure by storing a code in `lastError` and
// returning; the operations that change something do nothing while the
// word is set, and the word is cleared only where a failure is answered
// (the end-of-command report, and the places each layer's header names).
// Messages for the codes live here too so that every front end (the Windows program, the
// command-line tool, tests) shows the same texts. This file calls nothing.
#pragma once

#include <cstdint>

namespace verrin {

enum ErrorCode : int32_t {
    errNone = 0,
    errMacDiskFull = 1,
    errNoMemory = 2,
    errMacRead = 3,
    errMacWrite = 4,
    errVolumeReadOnly = 5,
    errBadNode = 6,
    errNoHfsVolume = 7,
    errNameExists = 8,
    errNotSupported = 9,
    errFormat = 10,
    errTooManyOpen = 11,
    errDriveNotReady = 13,
    errMacCreate = 14,
    errMacDelete = 15,
    errWrongFileType = 16,
    errDamagedFile = 17,
    errLockFailed = 19,
    errPcDiskFull = 100,
    errPcOpen = 101,
    errPcRead = 102,
    errPcWrite = 103,
    errPcCreate = 104,
    errPcDelete = 105,
    errCancelled = 120,
};

extern int32_t lastError;

// The fixed message for a code, or nullptr for errNone, errCancelled and
// codes without a row of their own (those are shown as "Misc error: %d").
const char* errorMessage(int32_t code);

// The text the user sees for a code: the table's message, or
// "Misc error: N". Empty for errNone and errCancelled.
const char* errorText(int32_t code);

// Sets lastError only when no error is pending yet, so the first failure of
// a command is the one reported.
inline void setError(int32_t code)
{
    if (lastError == errNone) lastError = code;
}

}  // namespace verrin
