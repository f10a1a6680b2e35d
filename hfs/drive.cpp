// The drive table, transfer limits and the unit/device-sector conversion.
// Calls only the error word.
#include "hfs/drive.h"

#include <algorithm>
#include <cstring>

#include "base/errors.h"

namespace verrin {

DriveEntry driveTable[maxDrives];
int driveCount = 0;
uint32_t transferLimitBytes = 32768;
uint32_t transferCap = 0;
uint32_t maxIoBufSetting = 64;
uint8_t bounceBuffer[bounceBufferSize];

int addDrive(const DriveEntry& entry)
{
    if (driveCount >= maxDrives) return -1;
    driveTable[driveCount] = entry;
    return driveCount++;
}

void clearDrives()
{
    std::memset(static_cast<void*>(driveTable), 0, sizeof driveTable);
    driveCount = 0;
}

uint64_t mediumUnits(DriveEntry& entry)
{
    if (!entry.querySectorSize) return 0;
    uint64_t capacity = 0;
    const uint32_t size = entry.querySectorSize(entry, &capacity);
    lastError = errNone;
    if (size < 512 || size % 512 != 0) return 0;
    return capacity * (size / 512);
}

void setTransferLimit(uint32_t maxIoBufSzK)
{
    maxIoBufSetting = maxIoBufSzK;
    if (maxIoBufSzK > 32)
        transferLimitBytes = 32768;
    else if (maxIoBufSzK <= 3)
        transferLimitBytes = 4096;
    else
        transferLimitBytes = maxIoBufSzK * 1024;
}

uint32_t transferUnits(const DriveEntry& entry, uint32_t count)
{
    if (maxIoBufSetting == 0) count = std::min<uint32_t>(count, std::max<uint16_t>(entry.sectorRatio, 1));
    if (transferCap != 0) count = std::min(count, transferCap);
    const uint32_t limit = (entry.flags & driveFileBacked) ? fileTransferLimitBytes : transferLimitBytes;
    return std::min(count, limit / 512);
}

int32_t convertedRead(DriveEntry& entry, DeviceSectorRead readSectors, uint8_t* buffer, uint32_t count,
                      uint32_t address)
{
    const uint32_t r = entry.sectorRatio ? entry.sectorRatio : 1;
    if (count == 0) return 0;
    const uint64_t first = address / r;
    const uint32_t o = address % r;
    // Never ask for more than the bounce buffer holds.
    const uint32_t maxSectors = std::max<uint32_t>(1, static_cast<uint32_t>(bounceBufferSize / (512u * r)));
    const uint32_t want = std::min(std::max<uint32_t>(1, count / r), maxSectors);
    const int32_t got = readSectors(entry, bounceBuffer, want, first);
    if (got < 1) {
        setError(errMacRead);
        return 0;
    }
    const uint32_t units = std::min<uint32_t>(count, static_cast<uint32_t>(got) * r - o);
    std::memcpy(buffer, bounceBuffer + static_cast<size_t>(o) * 512, static_cast<size_t>(units) * 512);
    return static_cast<int32_t>(units);
}

int32_t convertedWrite(DriveEntry& entry, DeviceSectorRead readSectors, DeviceSectorWrite writeSectors,
                       const uint8_t* buffer, uint32_t count, uint32_t address)
{
    const uint32_t r = entry.sectorRatio ? entry.sectorRatio : 1;
    if (count == 0) return 0;
    const uint64_t first = address / r;
    const uint32_t o = address % r;
    if (o != 0 || count < r) {
        // Part of one device sector: read it, patch the units, write it back.
        if (readSectors(entry, bounceBuffer, 1, first) < 1) {
            setError(errMacWrite);
            return 0;
        }
        const uint32_t units = std::min(count, r - o);
        std::memcpy(bounceBuffer + static_cast<size_t>(o) * 512, buffer, static_cast<size_t>(units) * 512);
        if (writeSectors(entry, bounceBuffer, 1, first) < 1) {
            setError(errMacWrite);
            return 0;
        }
        return static_cast<int32_t>(units);
    }
    const uint32_t maxSectors = std::max<uint32_t>(1, static_cast<uint32_t>(bounceBufferSize / (512u * r)));
    const uint32_t sectors = std::min(count / r, maxSectors);
    std::memcpy(bounceBuffer, buffer, static_cast<size_t>(sectors) * r * 512);
    const int32_t put = writeSectors(entry, bounceBuffer, sectors, first);
    if (put < 1) {
        setError(errMacWrite);
        return 0;
    }
    return static_cast<int32_t>(std::min<uint32_t>(count, static_cast<uint32_t>(put) * r));
}

}  // namespace verrin
