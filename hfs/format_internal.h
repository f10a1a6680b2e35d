// Names shared by the two formatters only: the start and end of a format's
// writing (its progress window, its writes kept and committed whole), the
// volume name as written and as text, and unit writes that run the message
// pump before each call and stop at the first error or cancel.
#pragma once

#include <cstdint>
#include <string>

#include "base/progress.h"
#include "hfs/drive.h"

namespace verrin::formatting {

// The new volume name, at most 27 characters, as a length byte and its
// characters zero-padded to `capacity` bytes (28 in an MDB, 32 in a
// thread record), and as text.
void putVolumeName(uint8_t* p, uint32_t capacity);
std::string volumeNameText();
std::string labelText(const DriveEntry& entry);

// Starts the writing part of a format: opens the "Formatting" window for a
// format of `steps` steps (each advanceProgress(1) is one) with the status
// in its name line, and from here on the drive's writes are kept in memory
// (hfs/journal.h).
void startWriting(DriveEntry& entry, uint32_t steps, const std::string& status);
// Ends it: closes the progress window, commits what was written as one
// journaled change (nothing after a failure or a cancel), and shows the
// outcome in the format error box; returns the outcome.
int32_t finishFormat(DriveEntry& entry);

// Writes count units from data at the unit address through the drive's
// `write`, following up partial transfers. Runs the message pump before
// each call; false as soon as lastError is set (a failure, or a cancel from
// the progress window), with nothing more written.
bool writeUnits(DriveEntry& entry, const uint8_t* data, uint32_t count, uint32_t address);
bool writeZeroUnits(DriveEntry& entry, uint32_t count, uint32_t address);

}  // namespace verrin::formatting
