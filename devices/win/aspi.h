// The ASPI SCSI transport: loads the ASPI for Win32 library (wnaspi32.dll)
// when it is there, and sends INQUIRY, READ CAPACITY, READ(10), WRITE(10)
// and READ TOC to LUN 0 of a target, one command at a time, each completed
// through an event. Busy managers are waited for, "buffer too big" answers
// shrink the transfer (and set transferCap), a command that never completes
// is aborted after 10 seconds. Data pass through the bounce buffer. Also
// builds the `aspiDevice` drive entries. Calls the system table, the drive
// contract, the formatters and the error word.
#pragma once

#include <cstdint>

#include "hfs/drive.h"

namespace verrin::win {

// Why loadAspi failed.
enum AspiLoadResult : int {
    aspiLoaded = 0,
    aspiNoLibrary = -1,
    aspiNoEntryPoints = -2,
    aspiManagerNotReady = -3,
    aspiNoHostAdapters = -4,
};

// Loads the library and asks for the host adapters; on failure nothing
// stays loaded.
int loadAspi();
// Frees the library if it is loaded (program exit).
void unloadAspi();
// Host adapters reported by the library (0 when it is not loaded).
extern int aspiHostAdapters;

// Attempts per command, and the waits between and within them.
constexpr uint32_t aspiTimeoutMs = 10000;
constexpr uint32_t aspiBusySleepMs = 5000;
constexpr uint32_t aspiAbortSleepMs = 1000;

// INQUIRY of LUN 0: 0 when the device answered (32 bytes of inquiry data in
// the bounce buffer), -1 when it did not, -3 when no event could be made.
int aspiInquiry(int hostAdapter, int target);
constexpr uint32_t inquiryBytes = 32;
// READ CAPACITY: the block length in bytes (0 on failure); `capacity`, when
// given, receives the number of blocks (0 on failure).
uint32_t aspiReadCapacity(int hostAdapter, int target, uint64_t* capacity);
// READ(10) / WRITE(10) of `count` blocks of `blockSize` bytes at `address`
// into or from `buffer`: the blocks moved (fewer than asked after the
// adapter reported the buffer too big), 0 on failure.
int32_t aspiRead(int hostAdapter, int target, uint32_t address, uint32_t blockSize, uint32_t count,
                 uint8_t* buffer);
int32_t aspiWrite(int hostAdapter, int target, uint32_t address, uint32_t blockSize, uint32_t count,
                  const uint8_t* buffer);
// The `readToc` operation: 256 bytes of READ TOC data; 0, or -1.
int32_t aspiReadToc(DriveEntry& entry, uint8_t* toc256);

// What INQUIRY told about a target.
struct AspiInquiry {
    uint8_t deviceType;  // peripheral device type, low 5 bits of byte 0
    bool removable;      // bit 7 of byte 1
    char ident[25];      // bytes 8..31: vendor, then product
};
// Reads the inquiry data left in the bounce buffer by aspiInquiry.
AspiInquiry inquiryFromBounceBuffer();

// An entry for a disk (0), WORM (4), CD-ROM (5) or optical (7) device, with
// its label; false for any other device type.
bool aspiEntry(int hostAdapter, int target, const AspiInquiry& inquiry, DriveEntry& out);

}  // namespace verrin::win
