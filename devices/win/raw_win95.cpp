// The Windows 95 family's raw-device paths: DOS services (device
// parameters, volume lock and unlock, absolute disk read and write) run by
// the "\\.\vwin32" device with a register block, for diskettes and
// removable DOS drives. Calls the system table, the drive contract, the
// formatters and the error word.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hfs/format.h"
#include "base/byteorder.h"
#include "devices/win/raw_devices.h"
#include "devices/win/system.h"
#include "base/errors.h"

namespace verrin::win {

namespace {

// The blocks whose addresses go into the register block: one request at a
// time, so one of each.
uint8_t parameterBlock[dosParameterBytes];
uint8_t diskIoPacket[diskIoBytes];

enum class DosOutcome { callFailed, carrySet, done };

struct DosCall {
    DosOutcome outcome;
    uint32_t errorCode;  // low byte of EAX when the carry was set
};

// Runs one DOS service on an open vwin32 handle. The registers not given
// are zero and the carry starts set, so a service that does not run at all
// still reads as failed.
DosCall runDos(SysHandle h, uint32_t code, DiocRegisters regs)
{
    regs.flags = carryFlag;
    if (!systemCalls->deviceIoControl(h, code, &regs, sizeof regs, &regs, sizeof regs, nullptr))
        return {DosOutcome::callFailed, 0};
    if (regs.flags & carryFlag) return {DosOutcome::carrySet, regs.eax & 0xFF};
    return {DosOutcome::done, 0};
}

SysHandle openVwin32()
{
    return systemCalls->createFile("\\\\.\\vwin32", genericRead, shareRead | shareWrite, openExisting,
                                   attributeNormal);
}

DiocRegisters ioctlRegisters(uint32_t minorCode, int driveNumber, uint32_t edx)
{
    DiocRegisters r{};
    r.eax = 0x440D;
    r.ebx = static_cast<uint32_t>(driveNumber);
    r.ecx = minorCode;
    r.edx = edx;
    return r;
}

// Int 25h or 26h for drive `dosDrive` (0 = A:) through the packet.
DosCall absoluteDisk(SysHandle h, uint32_t code, int dosDrive, uint32_t sector, uint32_t count, uint8_t* buffer)
{
    writeLe32(diskIoPacket, sector);
    writeLe16(diskIoPacket + 4, static_cast<uint16_t>(count));
    writeLe32(diskIoPacket + 6, dosAddress(buffer));
    DiocRegisters r{};
    r.eax = static_cast<uint32_t>(dosDrive);
    r.ebx = dosAddress(diskIoPacket);
    r.ecx = 0xFFFF;
    return runDos(h, code, r);
}

// One absolute read or write on a freshly opened vwin32.
DosCall absoluteTransfer(uint32_t code, int dosDrive, uint32_t sector, uint32_t count, uint8_t* buffer)
{
    const SysHandle h = openVwin32();
    if (h == invalidHandle) return {DosOutcome::callFailed, 0};
    const DosCall call = absoluteDisk(h, code, dosDrive, sector, count, buffer);
    systemCalls->closeHandle(h);
    return call;
}

uint32_t boundedUnits(uint32_t count) { return std::min<uint32_t>(count, bounceBufferSize / 512); }

// --- Diskettes: 512-byte units; Int 25h/26h for drive `unit`, no lock.

int32_t win95FloppyRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    count = boundedUnits(count);
    if (absoluteTransfer(vwin32Int25, entry.unit, address, count, bounceBuffer).outcome != DosOutcome::done) {
        setError(errMacRead);
        return 0;
    }
    std::memcpy(buffer, bounceBuffer, static_cast<size_t>(count) * 512);
    return static_cast<int32_t>(count);
}

int32_t win95FloppyWrite(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    count = boundedUnits(count);
    std::memcpy(bounceBuffer, buffer, static_cast<size_t>(count) * 512);
    if (absoluteTransfer(vwin32Int26, entry.unit, address, count, bounceBuffer).outcome != DosOutcome::done) {
        setError(errMacWrite);
        return 0;
    }
    return static_cast<int32_t>(count);
}

// --- Removable DOS drives: device sectors behind the unit conversion.
// `unit` is the DOS drive number (1 = A:); Int 25h/26h count from 0. The
// codes set here are the specific ones; the conversion adds errMacRead or
// errMacWrite when none was set.

int32_t biosSectorsIn(DriveEntry& entry, uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    if (deviceSector > 0xFFFFFFFFu) return 0;
    const DosCall call =
        absoluteTransfer(vwin32Int25, entry.unit - 1, static_cast<uint32_t>(deviceSector), sectors, buffer);
    if (call.outcome == DosOutcome::done) return static_cast<int32_t>(sectors);
    if (call.outcome == DosOutcome::carrySet && call.errorCode == dosNotReady) setError(errDriveNotReady);
    return 0;
}

// Locks the volume, writes, unlocks (whatever the unlock says), all on one
// vwin32 handle; nothing is written when the lock is refused.
int32_t biosSectorsOut(DriveEntry& entry, const uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    if (deviceSector > 0xFFFFFFFFu) return 0;
    const SysHandle h = openVwin32();
    if (h == invalidHandle) return 0;
    const DosCall lock = runDos(h, vwin32DosIoctl, ioctlRegisters(dosLockVolume, entry.unit, 0));
    if (lock.outcome != DosOutcome::done) {
        systemCalls->closeHandle(h);
        const bool notReady = lock.outcome == DosOutcome::carrySet && lock.errorCode == dosLockViolation;
        setError(notReady ? errDriveNotReady : errLockFailed);
        return 0;
    }
    const DosCall put = absoluteDisk(h, vwin32Int26, entry.unit - 1, static_cast<uint32_t>(deviceSector), sectors,
                                     const_cast<uint8_t*>(buffer));
    runDos(h, vwin32DosIoctl, ioctlRegisters(dosUnlockVolume, entry.unit, 0));
    systemCalls->closeHandle(h);
    if (put.outcome == DosOutcome::done) return static_cast<int32_t>(sectors);
    if (put.outcome == DosOutcome::carrySet && put.errorCode == dosWriteProtect) setError(errVolumeReadOnly);
    if (put.outcome == DosOutcome::carrySet && put.errorCode == dosNotReady) setError(errDriveNotReady);
    return 0;
}

int32_t biosRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    return convertedRead(entry, biosSectorsIn, buffer, count, address);
}

int32_t biosWrite(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    return convertedWrite(entry, biosSectorsIn, biosSectorsOut, buffer, count, address);
}

uint32_t biosSectorSize(DriveEntry& entry, uint64_t* capacity)
{
    DosDeviceParameters p{};
    if (!dosDeviceParameters(entry.unit, p)) return 0;
    if (capacity) *capacity = p.totalSectors;
    return p.bytesPerSector;
}

}  // namespace

uint32_t dosAddress(const void* pointer)
{
#if UINTPTR_MAX == 0xFFFFFFFFu
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
#else
    const intptr_t distance = reinterpret_cast<intptr_t>(pointer) - reinterpret_cast<intptr_t>(bounceBuffer);
    return static_cast<uint32_t>(static_cast<int32_t>(distance));
#endif
}

void* dosPointer(uint32_t address)
{
#if UINTPTR_MAX == 0xFFFFFFFFu
    return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
#else
    return reinterpret_cast<void*>(reinterpret_cast<intptr_t>(bounceBuffer) + static_cast<int32_t>(address));
#endif
}

bool dosDeviceParameters(int driveNumber, DosDeviceParameters& out)
{
    const SysHandle h = openVwin32();
    if (h == invalidHandle) return false;
    std::memset(parameterBlock, 0, sizeof parameterBlock);
    const DosCall call =
        runDos(h, vwin32DosIoctl, ioctlRegisters(dosGetParameters, driveNumber, dosAddress(parameterBlock)));
    systemCalls->closeHandle(h);
    if (call.outcome != DosOutcome::done) return false;
    const uint16_t shortTotal = readLe16(parameterBlock + dosParameter::totalSectors);
    out.deviceType = parameterBlock[dosParameter::deviceType];
    out.removable = (readLe16(parameterBlock + dosParameter::attributes) & 1) == 0;
    out.cylinders = readLe16(parameterBlock + dosParameter::cylinders);
    out.bytesPerSector = readLe16(parameterBlock + dosParameter::bytesPerSector);
    out.sectorsPerTrack = readLe16(parameterBlock + dosParameter::sectorsPerTrack);
    out.totalSectors = shortTotal ? shortTotal : readLe32(parameterBlock + dosParameter::largeTotalSectors);
    return true;
}

bool win95FloppyPresent(int unit)
{
    DosDeviceParameters p{};
    return dosDeviceParameters(unit + 1, p) && p.cylinders >= 80 && p.sectorsPerTrack >= 18;
}

// The same entry as on the NT family, with the DOS services' transfers.
DriveEntry win95FloppyEntry(int unit)
{
    DriveEntry e = ntFloppyEntry(unit);
    e.read = win95FloppyRead;
    e.write = win95FloppyWrite;
    e.sync = nullptr;  // the DOS services write through
    return e;
}

DriveEntry biosDriveEntry(int driveNumber, const DosDeviceParameters& p)
{
    DriveEntry e{};
    e.kind = DriveKind::biosDrive;
    e.unit = driveNumber;
    e.flags = driveRemovable;
    e.sectorRatio = sectorRatioOf(p.bytesPerSector);
    e.read = biosRead;
    e.write = biosWrite;
    e.identity = deviceIdentity;
    e.format = formatPartitionedMedium;
    e.querySectorSize = biosSectorSize;
    std::snprintf(e.label, sizeof e.label, "[BIOS_DRV %c]", 'A' + driveNumber - 1);
    return e;
}

}  // namespace verrin::win
