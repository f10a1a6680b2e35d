// The fault-injecting drive wrapper. See faulty_drive.h.
#include "support/faulty_drive.h"

#include "base/errors.h"

namespace verrin::testsupport {

FaultPlan faultPlan;

namespace {

int wrapped = -1;
DriveReadOp ownRead = nullptr;
DriveWriteOp ownWrite = nullptr;
DriveSyncOp ownSync = nullptr;

int32_t faultyRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    if (++faultPlan.reads == faultPlan.failRead) {
        faultPlan.failed = true;
        setError(errMacRead);
        return 0;
    }
    return ownRead ? ownRead(entry, buffer, count, address) : 0;
}

int32_t faultyWrite(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    if (++faultPlan.writes == faultPlan.failWrite) {
        faultPlan.failed = true;
        setError(errMacWrite);
        return 0;
    }
    const int32_t put = ownWrite ? ownWrite(entry, buffer, count, address) : 0;
    if (put > 0) faultPlan.trail.push_back(address);
    return put;
}

bool loggedSync(DriveEntry& entry)
{
    faultPlan.trail.push_back(syncMark);
    return ownSync(entry);
}

}  // namespace

void wrapDriveWithFaults(int index)
{
    unwrapFaultyDrive();
    if (index < 0 || index >= driveCount) return;
    DriveEntry& e = driveTable[index];
    ownRead = e.read;
    ownWrite = e.write;
    ownSync = e.sync;
    e.read = faultyRead;
    if (e.write) e.write = faultyWrite;
    if (e.sync) e.sync = loggedSync;
    wrapped = index;
    armFaults(0, 0);
}

void unwrapFaultyDrive()
{
    if (wrapped >= 0 && wrapped < driveCount) {
        driveTable[wrapped].read = ownRead;
        driveTable[wrapped].write = ownWrite;
        driveTable[wrapped].sync = ownSync;
    }
    wrapped = -1;
}

void armFaults(uint32_t failRead, uint32_t failWrite)
{
    faultPlan = FaultPlan{failRead, failWrite, 0, 0, false, {}};
}

int32_t readPastFaults(uint8_t* buffer, uint32_t count, uint32_t address)
{
    if (wrapped < 0 || !ownRead) return 0;
    return ownRead(driveTable[wrapped], buffer, count, address);
}

}  // namespace verrin::testsupport
