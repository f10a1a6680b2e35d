// The drive table and the transfer contract.
//
// Every medium that may hold an HFS volume is one DriveEntry: a kind, its
// flags and geometry, a label for the drive lists, and a table of operations
// that move 512-byte units at absolute unit addresses. Everything above the
// device layer names a drive only by its index in `driveTable` and calls its
// operations. This module owns the table, the transfer limits, the bounce
// buffer and the conversion between 512-byte units and larger device
// sectors. It calls only the error word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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
    driveReadOnly = 1,
    driveMultisession = 2,
    driveRemovable = 4,
};

struct DriveEntry;

// Operations of one drive. Counts and addresses are in 512-byte units,
// absolute on the medium. read/write return the units moved (1..count), or
// 0 on failure with lastError set.
using DriveReadOp = int32_t (*)(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address);
using DriveWriteOp = int32_t (*)(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address);
using DriveFormatOp = void (*)(DriveEntry& entry);
using DriveReadTocOp = int32_t (*)(DriveEntry& entry, uint8_t* toc256);
// Device sector size in bytes (0 on failure); when capacity is not null it
// receives the medium's size in device sectors.
using DriveSectorSizeOp = uint32_t (*)(DriveEntry& entry, uint64_t* capacity);
// Called when the volume is flushed, for kinds that keep derived data (a
// DiskCopy header checksum) that must follow the sectors written.
using DriveSyncOp = void (*)(DriveEntry& entry);

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

inline bool driveIsReadOnly(const DriveEntry& entry)
{
    return (entry.flags & driveReadOnly) != 0 || entry.write == nullptr;
}

}  // namespace verrin
