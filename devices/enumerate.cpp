// The drive enumeration. See enumerate.h.
#include "devices/enumerate.h"

#include "devices/win/raw_devices.h"
#include "devices/win/system.h"
#include "base/errors.h"
#include "hfs/hfs.h"

namespace verrin {

namespace {

bool tableFull() { return driveCount >= maxDrives; }

// A fixed disk is listed only when it carries a Mac signature where the
// volume scan looks for one; the probe reads through the entry's own read.
bool hasMacSignature(DriveEntry& entry)
{
    const bool found = detectBlockRatio(entry) != 0;
    lastError = errNone;
    return found;
}

void scanAspi(uint8_t targetMask)
{
    if (win::loadAspi() != win::aspiLoaded) return;
    for (int ha = 0; ha < win::aspiHostAdapters; ++ha) {
        for (int target = 0; target < 8; ++target) {
            if (!(targetMask & (1u << target)) || tableFull()) continue;
            if (win::aspiInquiry(ha, target) != 0) continue;
            const win::AspiInquiry inquiry = win::inquiryFromBounceBuffer();
            DriveEntry entry;
            if (!win::aspiEntry(ha, target, inquiry, entry)) continue;
            if (!inquiry.removable) {
                // Probe with the device's own block size.
                entry.sectorRatio = win::sectorRatioOf(win::aspiReadCapacity(ha, target, nullptr));
                if (!hasMacSignature(entry)) continue;
            }
            addDrive(entry);
        }
    }
}

void scanNtPhysicalDrives()
{
    for (int drive = 0; drive <= 25 && !tableFull(); ++drive) {
        win::DiskGeometry geometry{};
        const int media = win::ntPhysicalMedia(drive, geometry);
        if (media == 0) continue;
        DriveEntry entry = win::ntPhysicalEntry(drive, geometry);
        if (media == 2 || hasMacSignature(entry)) addDrive(entry);
    }
}

void scanNtCdroms()
{
    for (int letter = 'D' - 'A'; letter <= 'Z' - 'A' && !tableFull(); ++letter)
        if (win::ntCdromLetter(letter)) addDrive(win::ntCdromEntry(letter));
}

void scanDosDrives()
{
    for (int number = 4; number <= 25 && !tableFull(); ++number) {
        win::DosDeviceParameters p{};
        if (!win::dosDeviceParameters(number, p) || p.deviceType <= 4 || !p.removable) continue;
        if (p.bytesPerSector < 512 || p.bytesPerSector > 4096 || p.bytesPerSector % 512 != 0) continue;
        addDrive(win::biosDriveEntry(number, p));
    }
}

void scanFloppies()
{
    for (int unit = 0; unit < 2 && !tableFull(); ++unit) {
        if (win::isWin95Family ? win::win95FloppyPresent(unit) : win::ntFloppyPresent(unit))
            addDrive(win::isWin95Family ? win::win95FloppyEntry(unit) : win::ntFloppyEntry(unit));
    }
}

}  // namespace

void buildDriveTable(const Settings& prefs)
{
    clearDrives();
    win::isWin95Family = (win::systemCalls->getVersion() & 0x80000000u) != 0;
    if (prefs.addAspi) scanAspi(static_cast<uint8_t>(prefs.scsiScan & 0xFF));
    if (!win::isWin95Family) {
        if (prefs.addBios) scanNtPhysicalDrives();
        if (prefs.addCdrom) scanNtCdroms();
    } else if (prefs.addBios) {
        scanDosDrives();
    }
    if (prefs.addFloppy) scanFloppies();
    transferCap = 0;
    lastError = errNone;
}

}  // namespace verrin
