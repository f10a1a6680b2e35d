// The system's raw-device paths: diskettes, physical drives and CD-ROM
// letters on the NT family ("\\.\a:", "\\.\PhysicalDrive%d", "\\.\D:"),
// diskettes and removable DOS drives on the Windows 95 family (DOS services
// run by "\\.\vwin32"). Detection, the drive entries with their operations,
// and the device-sector transfers behind them.
//
// Every routine opens its device, does one piece of work and closes it on
// every path; nothing retries. Data pass through the bounce buffer. Calls
// the system table, the drive contract, the formatters, the size text and
// the error word.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hfs/drive.h"

namespace verrin::win {

// Results of an NT read or write: a positive count is what moved.
enum RawResult : int32_t {
    rawOpenFailed = -1,
    rawLockRefused = -2,
    rawSeekFailed = -3,  // the system did not report the wanted position back
    rawTransferFailed = -4,
};

// NT device control codes.
constexpr uint32_t lockVolume = 0x00090018;
constexpr uint32_t unlockVolume = 0x0009001C;
constexpr uint32_t getMediaTypes = 0x00070C00;
constexpr uint32_t getDriveGeometry = 0x00070000;
constexpr uint32_t getCdromGeometry = 0x0002404C;

// DISK_GEOMETRY: 24 bytes, little-endian.
constexpr uint32_t geometryBytes = 24;
namespace geometry {
constexpr uint32_t cylinders = 0;  // 64 bits
constexpr uint32_t mediaType = 8;
constexpr uint32_t tracksPerCylinder = 12;
constexpr uint32_t sectorsPerTrack = 16;
constexpr uint32_t bytesPerSector = 20;
}  // namespace geometry
constexpr uint32_t mediaF3_1Pt44 = 2;  // 3.5-inch 1.44 MB diskette
constexpr uint32_t mediaRemovable = 11;
constexpr uint32_t mediaFixed = 12;

struct DiskGeometry {
    uint64_t cylinders;
    uint32_t mediaType;
    uint32_t tracksPerCylinder;
    uint32_t sectorsPerTrack;
    uint32_t bytesPerSector;
};
DiskGeometry parseGeometry(const uint8_t* bytes24);

// The rollback journal's name for a diskette, physical drive or BIOS drive:
// its kind, number and size where the drive tells it
// ("PhysicalDrive1-1073741824", "Diskette0"). The journal checks the
// medium's contents before it undoes anything, so a medium swapped for
// another of the same size is never written by it.
bool deviceIdentity(DriveEntry& entry, char* text, size_t capacity);

// The sector ratio for a reported sector size: its 512-byte units for a
// multiple of 512 up to 4096 bytes, else 1.
uint16_t sectorRatioOf(uint32_t sectorSize);

// vwin32 control codes and the register block they take.
constexpr uint32_t vwin32DosIoctl = 1;
constexpr uint32_t vwin32Int25 = 2;
constexpr uint32_t vwin32Int26 = 3;
struct DiocRegisters {
    uint32_t ebx, edx, ecx, eax, edi, esi, flags;
};
static_assert(sizeof(DiocRegisters) == 28);
constexpr uint32_t carryFlag = 1;
// Int 21h AX=440Dh minor codes (in CX).
constexpr uint32_t dosGetParameters = 0x0860;
constexpr uint32_t dosLockVolume = 0x084A;
constexpr uint32_t dosUnlockVolume = 0x086A;
// DOS error codes (low byte of EAX after a failed service).
constexpr uint32_t dosWriteProtect = 0;
constexpr uint32_t dosNotReady = 2;
constexpr uint32_t dosLockViolation = 0x15;

// The DOS device-parameter block (32 bytes) and the absolute-disk packet
// (10 bytes: start sector, sector count, buffer address).
constexpr uint32_t dosParameterBytes = 32;
namespace dosParameter {
constexpr uint32_t deviceType = 1;
constexpr uint32_t attributes = 2;  // bit 0: non-removable
constexpr uint32_t cylinders = 4;
constexpr uint32_t bytesPerSector = 7;
constexpr uint32_t totalSectors = 15;
constexpr uint32_t sectorsPerTrack = 20;
constexpr uint32_t largeTotalSectors = 28;
}  // namespace dosParameter
constexpr uint32_t diskIoBytes = 10;

// The register block carries 32-bit addresses. On 32-bit Windows, the only
// system of the Windows 95 family, they are the pointers themselves; a
// 64-bit build reaches these paths only with a stand-in system and passes
// each address as its distance from the bounce buffer (every block passed
// is a static of this program, well within 2 GB of it). dosPointer is the
// way back, for whoever serves the request.
uint32_t dosAddress(const void* pointer);
void* dosPointer(uint32_t address);

struct DosDeviceParameters {
    uint8_t deviceType;
    bool removable;
    uint16_t cylinders;
    uint16_t bytesPerSector;
    uint16_t sectorsPerTrack;
    uint32_t totalSectors;  // the large-media field when the short one is 0
};

// --- Detection -------------------------------------------------------------

// NT: a diskette drive (unit 0 = A:) that takes 1.44 MB media.
bool ntFloppyPresent(int unit);
// NT: the geometry of "\\.\PhysicalDrive%d"; 1 for a fixed disk, 2 for a
// removable one, 0 when the query fails or the media type is neither.
int ntPhysicalMedia(int drive, DiskGeometry& out);
// NT: the system reports letter index i (0 = A:) as a CD-ROM drive.
bool ntCdromLetter(int letterIndex);
// Windows 95: the DOS device parameters of drive number k (1 = A:).
bool dosDeviceParameters(int driveNumber, DosDeviceParameters& out);
// Windows 95: a diskette drive (unit 0 = A:) with at least 80 cylinders
// and 18 sectors per track.
bool win95FloppyPresent(int unit);

// --- Drive entries ---------------------------------------------------------
// Each is zeroed, then filled with the kind's operations, flags and label.

// A diskette drive (unit 0 = A:) on either family's path.
DriveEntry ntFloppyEntry(int unit);
DriveEntry win95FloppyEntry(int unit);
DriveEntry ntPhysicalEntry(int drive, const DiskGeometry& geometry);
DriveEntry ntCdromEntry(int letterIndex);
DriveEntry biosDriveEntry(int driveNumber, const DosDeviceParameters& parameters);

}  // namespace verrin::win
