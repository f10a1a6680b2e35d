// The NT family's raw-device paths: diskettes ("\\.\a:"), physical drives
// ("\\.\PhysicalDrive%d") and CD-ROM letters ("\\.\D:"). Positions are full
// 64-bit byte offsets, so a disk is reachable beyond 2 GB. Calls the system
// table, the drive contract, the formatters, the size text and the error
// word.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hfs/format.h"
#include "base/byteorder.h"
#include "devices/win/raw_devices.h"
#include "devices/win/system.h"
#include "base/errors.h"
#include "base/format.h"

namespace verrin::win {

namespace {

struct DeviceName {
    char text[32];
};

DeviceName floppyName(int unit)
{
    DeviceName n;
    std::snprintf(n.text, sizeof n.text, "\\\\.\\%c:", 'a' + unit);
    return n;
}

DeviceName cdromName(int letterIndex)
{
    DeviceName n;
    std::snprintf(n.text, sizeof n.text, "\\\\.\\%c:", 'A' + letterIndex);
    return n;
}

DeviceName physicalName(int drive)
{
    DeviceName n;
    std::snprintf(n.text, sizeof n.text, "\\\\.\\PhysicalDrive%d", drive);
    return n;
}

// How one transfer opens its device.
struct OpenMode {
    uint32_t access;
    uint32_t share;
    bool lock;
};

constexpr OpenMode floppyReading{genericRead, 0, true};
constexpr OpenMode floppyWriting{genericRead | genericWrite, 0, true};
constexpr OpenMode cdromReading{genericRead, shareRead | shareWrite, false};
constexpr OpenMode physicalReading{genericRead, shareRead | shareWrite, true};
constexpr OpenMode physicalWriting{genericWrite, shareRead | shareWrite, true};

// One positioned read or write on a freshly opened device: the count of
// whole `unitBytes` moved, or a RawResult.
int32_t ntTransfer(const DeviceName& name, const OpenMode& mode, bool writing, uint64_t position, uint8_t* buffer,
                   uint32_t bytes, uint32_t unitBytes)
{
    const SystemOps& sys = *systemCalls;
    const SysHandle h = sys.createFile(name.text, mode.access, mode.share, openExisting, 0);
    if (h == invalidHandle) return rawOpenFailed;
    if (mode.lock && !sys.deviceIoControl(h, lockVolume, nullptr, 0, nullptr, 0, nullptr)) {
        sys.closeHandle(h);
        return rawLockRefused;
    }
    int32_t result;
    uint64_t reached = ~position;
    if (!sys.setFilePointer(h, position, &reached) || reached != position) {
        result = rawSeekFailed;
    } else {
        uint32_t done = 0;
        const bool ok = writing ? sys.writeFile(h, buffer, bytes, &done) : sys.readFile(h, buffer, bytes, &done);
        const uint32_t units = done / unitBytes;
        result = ok && units > 0 ? static_cast<int32_t>(units) : rawTransferFailed;
    }
    if (mode.lock) sys.deviceIoControl(h, unlockVolume, nullptr, 0, nullptr, 0, nullptr);
    sys.closeHandle(h);
    return result;
}

// The geometry query on a freshly opened device; false when it fails.
bool queryGeometry(const DeviceName& name, uint32_t code, DiskGeometry& out)
{
    const SystemOps& sys = *systemCalls;
    const SysHandle h = sys.createFile(name.text, genericRead, shareRead | shareWrite, openExisting, 0);
    if (h == invalidHandle) return false;
    uint8_t bytes[geometryBytes] = {};
    uint32_t returned = 0;
    const bool ok = sys.deviceIoControl(h, code, nullptr, 0, bytes, sizeof bytes, &returned) &&
                    returned >= geometryBytes;
    sys.closeHandle(h);
    if (ok) out = parseGeometry(bytes);
    return ok;
}

// Transfers never exceed the bounce buffer.
uint32_t boundedUnits(uint32_t count) { return std::min<uint32_t>(count, bounceBufferSize / 512); }

// --- Diskettes: 512-byte units, transferred as asked.

int32_t ntFloppyRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    count = boundedUnits(count);
    const int32_t got = ntTransfer(floppyName(entry.unit), floppyReading, false, static_cast<uint64_t>(address) * 512,
                                   bounceBuffer, count * 512, 512);
    if (got < 1) {
        setError(errMacRead);
        return 0;
    }
    std::memcpy(buffer, bounceBuffer, static_cast<size_t>(got) * 512);
    return got;
}

int32_t ntFloppyWrite(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    count = boundedUnits(count);
    std::memcpy(bounceBuffer, buffer, static_cast<size_t>(count) * 512);
    const int32_t put = ntTransfer(floppyName(entry.unit), floppyWriting, true, static_cast<uint64_t>(address) * 512,
                                   bounceBuffer, count * 512, 512);
    if (put < 1) {
        setError(errMacWrite);
        return 0;
    }
    return put;
}

// --- CD-ROM letters and physical drives: device sectors of sectorRatio
// units, behind the unit conversion of the drive contract.

uint32_t deviceSectorBytes(const DriveEntry& entry) { return (entry.sectorRatio ? entry.sectorRatio : 1) * 512u; }

int32_t cdromSectors(DriveEntry& entry, uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    const uint32_t b = deviceSectorBytes(entry);
    return ntTransfer(cdromName(entry.unit), cdromReading, false, deviceSector * b, buffer, sectors * b, b);
}

int32_t physicalSectorsIn(DriveEntry& entry, uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    const uint32_t b = deviceSectorBytes(entry);
    return ntTransfer(physicalName(entry.unit), physicalReading, false, deviceSector * b, buffer, sectors * b, b);
}

int32_t physicalSectorsOut(DriveEntry& entry, const uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    const uint32_t b = deviceSectorBytes(entry);
    return ntTransfer(physicalName(entry.unit), physicalWriting, true, deviceSector * b, const_cast<uint8_t*>(buffer),
                      sectors * b, b);
}

int32_t cdromRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    return convertedRead(entry, cdromSectors, buffer, count, address);
}

int32_t physicalRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    return convertedRead(entry, physicalSectorsIn, buffer, count, address);
}

int32_t physicalWrite(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    return convertedWrite(entry, physicalSectorsIn, physicalSectorsOut, buffer, count, address);
}

// --- The write barrier and the journal's name of diskettes and physical
// drives.

// The device opened as for writing and its buffers flushed (the disk's own
// write cache included).
bool ntSync(const DeviceName& name, const OpenMode& mode)
{
    const SystemOps& sys = *systemCalls;
    const SysHandle h = sys.createFile(name.text, mode.access, mode.share, openExisting, 0);
    const bool flushed = h != invalidHandle && sys.flushBuffers(h);
    if (h != invalidHandle) sys.closeHandle(h);
    if (!flushed) setError(errMacWrite);
    return flushed;
}

bool ntFloppySync(DriveEntry& entry) { return ntSync(floppyName(entry.unit), floppyWriting); }
bool physicalSync(DriveEntry& entry) { return ntSync(physicalName(entry.unit), physicalWriting); }

uint32_t sizeFromGeometry(const DeviceName& name, uint32_t code, uint64_t* capacity)
{
    DiskGeometry g{};
    if (!queryGeometry(name, code, g)) return 0;
    if (capacity) *capacity = g.cylinders * g.tracksPerCylinder * g.sectorsPerTrack;
    return g.bytesPerSector;
}

uint32_t cdromSectorSize(DriveEntry& entry, uint64_t* capacity)
{
    return sizeFromGeometry(cdromName(entry.unit), getCdromGeometry, capacity);
}

uint32_t physicalSectorSize(DriveEntry& entry, uint64_t* capacity)
{
    return sizeFromGeometry(physicalName(entry.unit), getDriveGeometry, capacity);
}

}  // namespace

bool deviceIdentity(DriveEntry& entry, char* text, size_t capacity)
{
    const char* device = entry.kind == DriveKind::floppy       ? "Diskette"
                         : entry.kind == DriveKind::ntPhysical ? "PhysicalDrive"
                                                               : "BiosDrive";
    uint64_t sectors = 0;
    const uint32_t sectorSize = entry.querySectorSize ? entry.querySectorSize(entry, &sectors) : 0;
    const int written = sectorSize == 0
                            ? std::snprintf(text, capacity, "%s%d", device, static_cast<int>(entry.unit))
                            : std::snprintf(text, capacity, "%s%d-%llu", device, static_cast<int>(entry.unit),
                                            static_cast<unsigned long long>(sectors * sectorSize));
    return written > 0 && static_cast<size_t>(written) < capacity;
}

uint16_t sectorRatioOf(uint32_t sectorSize)
{
    return sectorSize >= 512 && sectorSize <= 4096 && sectorSize % 512 == 0 ? static_cast<uint16_t>(sectorSize / 512)
                                                                          : 1;
}

DiskGeometry parseGeometry(const uint8_t* bytes)
{
    return DiskGeometry{readLe64(bytes + geometry::cylinders), readLe32(bytes + geometry::mediaType),
                        readLe32(bytes + geometry::tracksPerCylinder), readLe32(bytes + geometry::sectorsPerTrack),
                        readLe32(bytes + geometry::bytesPerSector)};
}

bool ntFloppyPresent(int unit)
{
    const SystemOps& sys = *systemCalls;
    const SysHandle h = sys.createFile(floppyName(unit).text, 0, shareRead, openAlways, 0);
    if (h == invalidHandle) return false;
    constexpr uint32_t maxRecords = 20;
    uint8_t records[maxRecords * geometryBytes] = {};
    uint32_t returned = 0;
    bool found = false;
    if (sys.deviceIoControl(h, getMediaTypes, nullptr, 0, records, sizeof records, &returned)) {
        const uint32_t count = std::min(returned / geometryBytes, maxRecords);
        for (uint32_t i = 0; i < count && !found; ++i)
            found = parseGeometry(records + i * geometryBytes).mediaType == mediaF3_1Pt44;
    }
    sys.closeHandle(h);
    return found;
}

int ntPhysicalMedia(int drive, DiskGeometry& out)
{
    if (!queryGeometry(physicalName(drive), getDriveGeometry, out)) return 0;
    if (out.mediaType == mediaFixed) return 1;
    if (out.mediaType == mediaRemovable) return 2;
    return 0;
}

bool ntCdromLetter(int letterIndex)
{
    char root[4] = {static_cast<char>('A' + letterIndex), ':', 0, 0};
    return systemCalls->getDriveType(root) == driveTypeCdrom;
}

DriveEntry ntFloppyEntry(int unit)
{
    DriveEntry e{};
    e.kind = DriveKind::floppy;
    e.unit = unit;
    e.sectorRatio = 1;
    e.read = ntFloppyRead;
    e.write = ntFloppyWrite;
    e.sync = ntFloppySync;
    e.identity = deviceIdentity;
    e.format = formatDiskette;
    std::snprintf(e.label, sizeof e.label, "[DISKETTE %c]", 'A' + unit);
    return e;
}

DriveEntry ntPhysicalEntry(int drive, const DiskGeometry& g)
{
    DriveEntry e{};
    e.kind = DriveKind::ntPhysical;
    e.unit = drive;
    // The drive is opened with the sector size it reports, so that the
    // signature probe reads whole sectors of a large-sector disk.
    e.sectorRatio = sectorRatioOf(g.bytesPerSector);
    e.read = physicalRead;
    e.write = physicalWrite;
    e.sync = physicalSync;
    e.identity = deviceIdentity;
    e.format = formatPartitionedMedium;
    e.querySectorSize = physicalSectorSize;
    const double bytes = static_cast<double>(g.cylinders) * g.tracksPerCylinder * g.sectorsPerTrack * g.bytesPerSector;
    char size[16];
    formatSize(bytes, size, sizeof size);
    std::snprintf(e.label, sizeof e.label, "[DRIVE %d] (%s)", drive, size);
    return e;
}

DriveEntry ntCdromEntry(int letterIndex)
{
    DriveEntry e{};
    e.kind = DriveKind::ntCdrom;
    e.unit = letterIndex;
    e.flags = driveMultisession;
    e.sectorRatio = 4;
    e.read = cdromRead;
    e.querySectorSize = cdromSectorSize;
    std::snprintf(e.label, sizeof e.label, "[CDROM %c]", 'A' + letterIndex);
    return e;
}

}  // namespace verrin::win
