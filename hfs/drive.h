// The drive table and the transfer contract.
//
// Every medium that may hold an HFS volume is one DriveEntry: a kind, its
// flags and geometry, a label for the drive lists, and a table of operations
// that move 512-byte units at absolute unit addresses. Everything above the
// device layer names a drive only by its index in `driveTable` and calls its
// operations. This module owns the table, the transfer limits, the bounce
// buffer and the conversion between 512-byte units and larger device
// sectors. It calls only the error word (and names the stamp of plain files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/rawfile.h"

namespace verrin {

enum class DriveKind : uint8_t {
    aspiDevice,
    ntPhysical,
    ntCdrom,
    biosDrive,
    floppy,
    imageFile,      // a file holding a raw disk image
    diskCopyImage,  // a DiskCopy 4.2 image file
};

enum DriveFlags : uint8_t {
    driveReadOnly = 1,  // set and cleared by the read-only question
    driveMultisession = 2,
    driveRemovable = 4,
    // The medium is a file: `identity` gives its path, and the rollback
    // journal of its changes sits beside it.
    driveFileBacked = 8,
    // Writes are refused for as long as the drive is open, whatever the
    // read-only question answers: the drive was opened for reading and has
    // `write` only to undo an interrupted change, or an interrupted change
    // recorded for it does not match the medium (hfs/journal.h).
    driveWriteHeld = 16,
};

struct DriveEntry;

// Operations of one drive. Counts and addresses are in 512-byte units,
// absolute on the medium. read/write return the units moved (1..count), or
// 0 on failure with lastError set.
using DriveReadOp = int32_t (*)(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address);
using DriveWriteOp = int32_t (*)(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address);
// format returns its outcome as an error code (see hfs/format.h).
using DriveFormatOp = int32_t (*)(DriveEntry& entry);
using DriveReadTocOp = int32_t (*)(DriveEntry& entry, uint8_t* toc256);
// Device sector size in bytes (0 on failure); when capacity is not null it
// receives the medium's size in device sectors.
using DriveSectorSizeOp = uint32_t (*)(DriveEntry& entry, uint64_t* capacity);
// The write barrier: puts every unit written so far on stable storage (the
// medium itself, not a cache of the system's or the device's), after
// bringing up to date derived data that must follow the units (a DiskCopy
// header checksum). False with lastError set when it failed. A drive
// without `sync` has its writes stable when `write` returns.
using DriveSyncOp = bool (*)(DriveEntry& entry);
// Names the medium for the rollback journal of its changes: writes a
// NUL-terminated text of less than `capacity` bytes and returns true. With
// `driveFileBacked` the text is the path of the file holding the medium;
// for a device it is an identity that stays the same from run to run and
// tells this medium from others (bus, model, serial number, size). A drive
// without `identity` is written without a journal.
using DriveIdentityOp = bool (*)(DriveEntry& entry, char* text, size_t capacity);
// The medium's stamp: what any write to it, by this program or another,
// changes (for a file, its identity, length and times). False when the
// drive cannot give one; a drive without `stamp` has none.
using DriveStampOp = bool (*)(DriveEntry& entry, FileStamp& stamp);
// Makes the medium's stamp one that the next write to it, by any program,
// is sure to change, without waiting, and gives that stamp (for a file:
// sealRawFileStamp). False when it cannot; the stamp may then have
// changed all the same. A drive without `seal` cannot.
using DriveSealOp = bool (*)(DriveEntry& entry, FileStamp& stamp);

struct DriveEntry {
    DriveKind kind;
    uint8_t flags;
    int32_t unit;          // per kind: drive number, SCSI ID, image slot ...
    uint16_t hostAdapter;  // ASPI only
    uint16_t sectorRatio;  // device sector size / 512
    DriveReadOp read;
    DriveWriteOp write;    // null: read-only for every caller
    DriveFormatOp format;  // null: "This drive does not support formatting"
    DriveReadTocOp readToc;
    DriveSectorSizeOp querySectorSize;
    DriveSyncOp sync;
    DriveIdentityOp identity;
    DriveStampOp stamp;
    DriveSealOp seal;
    char label[32];
};

constexpr int maxDrives = 20;

extern DriveEntry driveTable[maxDrives];
extern int driveCount;

// Appends an entry; returns its index, or -1 when the table is full.
int addDrive(const DriveEntry& entry);
// Empties the table (tests and the command-line tool; the program fills it
// once per run).
void clearDrives();

// Transfer limits.
extern uint32_t transferLimitBytes;  // 4096..32768
extern uint32_t transferCap;         // units; 0 = no cap
// The "MaxIOBufSzK" setting as given; 0 limits every transfer to one
// device sector.
extern uint32_t maxIoBufSetting;
// Derives transferLimitBytes from the "MaxIOBufSzK" setting (kilobytes).
void setTransferLimit(uint32_t maxIoBufSzK);
// A drive whose medium is a file (driveFileBacked) is not held to
// transferLimitBytes, which sizes the buffers of devices and their
// drivers: it takes transfers of up to this many bytes, so that file data
// reach the file in large pieces.
constexpr uint32_t fileTransferLimitBytes = 1u << 20;
// The largest part of a transfer of `count` units that one call to the
// drive may carry: one device sector when the setting is 0, then
// transferCap when set, then transferLimitBytes (fileTransferLimitBytes
// for a file).
uint32_t transferUnits(const DriveEntry& entry, uint32_t count);

// The bounce buffer every converted transfer passes through: the largest
// transfer plus one device sector of up to 4096 bytes.
constexpr size_t bounceBufferSize = 32768 + 4096;
extern uint8_t bounceBuffer[bounceBufferSize];

// Raw device-sector access used by the conversion rules: move `sectors`
// whole device sectors at device-sector address `deviceSector`. Returns the
// sectors moved (< 1 is a failure).
using DeviceSectorRead = int32_t (*)(DriveEntry& entry, uint8_t* buffer, uint32_t sectors, uint64_t deviceSector);
using DeviceSectorWrite = int32_t (*)(DriveEntry& entry, const uint8_t* buffer, uint32_t sectors, uint64_t deviceSector);

// The 512-byte-unit contract on top of device sectors of sectorRatio units:
// a read may deliver fewer units than asked when it does not start on a
// device-sector boundary; a write of part of a device sector reads the
// containing sector first (read-modify-write).
int32_t convertedRead(DriveEntry& entry, DeviceSectorRead readSectors, uint8_t* buffer, uint32_t count,
                      uint32_t address);
int32_t convertedWrite(DriveEntry& entry, DeviceSectorRead readSectors, DeviceSectorWrite writeSectors,
                       const uint8_t* buffer, uint32_t count, uint32_t address);

// The medium's size in 512-byte units, asked of the drive's
// querySectorSize; 0 when the drive cannot tell (no such operation, or a
// sector size that is not a multiple of 512). A failed query leaves no
// error behind.
uint64_t mediumUnits(DriveEntry& entry);

inline bool driveIsReadOnly(const DriveEntry& entry)
{
    return (entry.flags & (driveReadOnly | driveWriteHeld)) != 0 || entry.write == nullptr;
}

}  // namespace verrin
