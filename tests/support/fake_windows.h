// A stand-in Windows behind the device code's system table, for tests.
//
// Raw devices are fakes: named devices ("\\.\PhysicalDrive0", "\\.\a:",
// "\\.\D:") with a geometry, media types and sparse 512-byte sectors; DOS
// drives served through "\\.\vwin32" with their device parameters and DOS
// error codes; CD-ROM drive letters; the version word. Every open, lock,
// position and transfer is counted. The ASPI library is the test double:
// on Windows the real wnaspi32.dll beside the test binary, loaded by the
// system itself, with real events; elsewhere the double linked into the
// tests with events made here. Either way sleeps and waits are recorded,
// sleeps never happen and waits are cut short (waitCapMs).
// Calls the system table and the ASPI double.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "aspi_double/aspi_double.h"
#include "devices/win/system.h"

namespace verrin::testsupport {

using Sectors = std::map<uint64_t, std::array<uint8_t, 512>>;

struct FakeDevice {
    std::string name;
    uint64_t cylinders = 0;  // geometry; bytesPerSector 0: the query fails
    uint32_t mediaType = 0;
    uint32_t tracksPerCylinder = 1;
    uint32_t sectorsPerTrack = 1;
    uint32_t bytesPerSector = 0;
    std::vector<uint32_t> mediaTypes;  // answers to the media-types query
    bool lockRefused = false;
    bool wrongPosition = false;  // goes to the position's low 31 bits and says so
    bool writeProtected = false;
    Sectors sectors;             // 512-byte units by index; absent ones read as zeros
    uint64_t bytes = 0;          // medium length: reads past it move nothing
    // What happened.
    int opens = 0, locks = 0, unlocks = 0, reads = 0, writes = 0;
    uint32_t lastAccess = 0, lastShare = 0;
    std::vector<uint64_t> positions;
};

struct FakeDosDrive {
    int number = 0;  // 1 = A:
    uint8_t deviceType = 5;
    bool removable = true;
    uint16_t cylinders = 0, sectorsPerTrack = 0;
    uint16_t bytesPerSector = 512;
    uint32_t totalSectors = 0;
    int readError = -1;   // DOS error code for Int 25h; -1: none
    int writeError = -1;  // for Int 26h
    int lockError = -1;   // for the volume lock
    Sectors sectors;      // 512-byte units by index
    int locks = 0, unlocks = 0, writes = 0;
};

struct FakeWindows {
    uint32_t version = 0x0000000A;  // NT family
    std::vector<FakeDevice> devices;
    std::vector<FakeDosDrive> dosDrives;
    std::vector<int> cdromLetters;  // letter indexes GetDriveType calls CD-ROM
    bool aspiMissing = false;       // wnaspi32.dll cannot be loaded
    bool aspiEntryMissing = false;  // it lacks SendASPI32Command
    uint32_t waitCapMs = 5000;      // longest real wait for an event
    // What happened.
    int openHandles = 0;  // fake files open now
    int vwin32Opens = 0;
    int flushes = 0;  // FlushFileBuffers calls
    std::vector<uint32_t> sleeps, waits;  // milliseconds asked for
    int librariesLoaded = 0, librariesFreed = 0;

    FakeDevice* device(const std::string& name);
    FakeDosDrive* dosDrive(int number);
};

extern FakeWindows fakeWindows;

// Resets fakeWindows (no devices, NT family) and the ASPI double (no
// adapters) and installs the stand-in system table.
void installFakeWindows();
// Puts the host system back.
void removeFakeWindows();

// The double's controls, wherever it lives.
struct AspiDoubleControls {
    void (*reset)(uint32_t supportWord);
    void (*addDevice)(const AspiDoubleDevice* device);
    void (*script)(const AspiDoubleReply* replies, uint32_t count);
    uint32_t (*calls)(AspiDoubleCall* out, uint32_t capacity);
    void (*settle)();
};
const AspiDoubleControls& aspiDouble();
std::vector<AspiDoubleCall> aspiCalls();

// 512-byte unit content of a fake medium (zeros when never written).
std::array<uint8_t, 512> unitOf(const Sectors& sectors, uint64_t unit);

}  // namespace verrin::testsupport
