// The rollback journal: how a set of changed 512-byte units reaches a
// medium so that a stop at any moment (the program killed, the machine
// losing power) leaves the medium as it was before the change or as it is
// after it.
//
// One commit: the units' present contents (before-images) and their new
// contents go to a journal file, with a header naming the medium (its
// size, sector size, the volume's start and creation date, what the change
// is) and a checksum (file data the units describe, written around the
// commit, is synced first); the journal and its folder are synced; the
// units are written in ascending runs of adjacent units, each run one
// transfer as large as the drive's limits allow; the medium is synced (the
// drive's `sync`), which commits the change; the journal is then deleted (its
// folder is not synced: a deletion lost in a crash brings back a journal
// of a finished commit, which recovery discards). A write that fails
// part-way puts the units already written back; the journal is deleted
// only once the medium is whole again.
//
// Recovery, when a drive is opened: a complete journal whose units on the
// medium all hold their new images belongs to a finished commit: the
// drive is synced and the journal deleted, silently. One whose units each
// hold their before-image, their new image or a mix of the two (a write
// torn part-way) is rolled back, synced and deleted, and the user is told
// in one line what was undone; an incomplete journal (the medium was
// never touched) is deleted; a journal that does not match the medium
// (changed since by another program) is never applied: the drive's writes
// are held off for the session and the user is told why.
//
// Where a journal lives: beside the image file for drives with
// `driveFileBacked`, else in `journalFolder` under the drive's identity.
// Calls the drive table, plain files (base/rawfile.h) and the
// user-interface seam.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "hfs/drive.h"

namespace verrin {

// One unit of a commit: its absolute address, what the medium holds there
// now (null: read it from the medium) and what it is to hold.
struct JournalUnit {
    uint32_t address;
    const uint8_t* before;
    const uint8_t* after;
};

// What a journal names besides the medium.
struct JournalLabel {
    uint32_t volumeStart;    // absolute unit of the volume changed
    uint32_t volumeCreated;  // its drCrDate (0 when not known)
    char what[64];           // the change, for the user: change to "Disk"
};

// Writes the units (ascending addresses, each once) to the drive as one
// commit; on a drive whose sectors hold several units, the other units of
// each sector written are journaled too. True when they are on stable
// storage. False with lastError set: the medium then holds what it held
// before (or, when even putting it back failed, the journal stays for the
// next opening to roll back). Writes are refused (errVolumeReadOnly) on a
// read-only drive and while the drive has an interrupted change that could
// not be undone.
// File data that the units describe but that went to the medium outside
// them (DataOutside::written: written straight to its blocks before the
// commit) is synced before the journal is written, so a medium whose units
// all hold their new images holds that data too, and recovery may keep
// such a commit.
enum class DataOutside : uint8_t { none, written };
bool commitUnits(DriveEntry& entry, std::span<const JournalUnit> units, const JournalLabel& label,
                 DataOutside data);

// Rolls back or deletes the drive's journal as described above. Leaves
// lastError as it found it; what happened is told through the
// user-interface seam.
void recoverJournal(DriveEntry& entry);

// Path of the drive's journal; false when the drive has none (no
// identity, or a device while journalFolder is empty).
bool journalPathOf(DriveEntry& entry, std::string& path);
// The journal of the medium held in the file at imagePath.
std::string journalPathBeside(const std::string& imagePath);
// The folder that holds the journals of devices (set by the program at
// start-up; empty: devices are written without a journal).
extern std::string journalFolder;

// Formatting: between these two calls the drive's `read` and `write` go to
// memory; the end commits what was written as one journaled change (commit
// true) or drops it (after a failure or a cancel). endCapturedWrites
// returns commitUnits' result (true when dropping).
void beginCapturedWrites(DriveEntry& entry);
bool endCapturedWrites(DriveEntry& entry, bool commit, const JournalLabel& label);

// For benchmarks only: when the environment variable
// VERRIN_BENCH_NO_JOURNAL is set, commits write the units without a
// journal and without syncs (nor the DiskCopy checksum a sync brings up
// to date: raw images only).
bool journalingSwitchedOff();

}  // namespace verrin
