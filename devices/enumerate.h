// The drive enumeration: fills the drive table once at start-up, in this
// order, from the ASPI SCSI devices, then on the NT family the physical
// drives and CD-ROM letters, or on the Windows 95 family the removable DOS
// drives, then the two diskette drives. Each source is switched by its
// "Disk Prefs" setting, and "SCSIScan" picks the SCSI targets asked. The
// table holds at most 20 drives; image drives opened by the program come
// after the devices. unloadAspi (devices/win/aspi.h) frees the ASPI
// library at program exit.
// Calls the device paths in devices/win/, the engine's signature probe and
// the drive table.
#pragma once

#include "devices/win/aspi.h"
#include "base/settings.h"

namespace verrin {

// Empties the drive table and fills it from the devices the settings
// switch on. Reads the system version (isWin95Family) first. Leaves
// lastError and transferCap at 0.
void buildDriveTable(const Settings& settings);

}  // namespace verrin
