// A fault-injecting wrapper around one drive of the drive table, for
// testing the engine's error paths: after arming, the k-th read or the k-th
// write through the drive's operations fails (returns 0 with errMacRead or
// errMacWrite set, moving nothing); every other call passes through to the
// drive's own operations and is counted. Writes and syncs are also logged
// in order, so a test can see what reached the drive before a sync.
// Calls the drive table only.
#pragma once

#include <cstdint>
#include <vector>

#include "hfs/drive.h"

namespace verrin::testsupport {

struct FaultPlan {
    uint32_t failRead = 0;   // 1-based number of the read to fail; 0: none
    uint32_t failWrite = 0;  // the same for writes
    uint32_t reads = 0;      // calls since arming, the failed one included
    uint32_t writes = 0;
    bool failed = false;     // the planned fault has happened
    // The first address of every write that passed and syncMark for every
    // sync, in order.
    std::vector<uint32_t> trail;
};
constexpr uint32_t syncMark = 0xFFFFFFFFu;

extern FaultPlan faultPlan;

// Replaces the read, write and sync operations of driveTable[index] by
// counting, failing (read, write) and logging (write, sync) wrappers (one drive at a time; a second call moves the wrapper).
void wrapDriveWithFaults(int index);
// Puts the drive's own operations back.
void unwrapFaultyDrive();
// Resets the counters and sets which calls fail.
void armFaults(uint32_t failRead, uint32_t failWrite);
// Reads sectors with the drive's own read operation, bypassing the counting
// and the faults (to compare the cache with what the medium holds).
int32_t readPastFaults(uint8_t* buffer, uint32_t count, uint32_t address);

}  // namespace verrin::testsupport
