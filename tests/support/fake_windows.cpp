// The stand-in Windows. See fake_windows.h.
#include "support/fake_windows.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/byteorder.h"
#include "devices/win/raw_devices.h"

namespace verrin::testsupport {

using namespace verrin::win;

FakeWindows fakeWindows;

FakeDevice* FakeWindows::device(const std::string& name)
{
    for (FakeDevice& d : devices)
        if (d.name == name) return &d;
    return nullptr;
}

FakeDosDrive* FakeWindows::dosDrive(int number)
{
    for (FakeDosDrive& d : dosDrives)
        if (d.number == number) return &d;
    return nullptr;
}

std::array<uint8_t, 512> unitOf(const Sectors& sectors, uint64_t unit)
{
    const auto it = sectors.find(unit);
    return it == sectors.end() ? std::array<uint8_t, 512>{} : it->second;
}

namespace {

void copyOut(const Sectors& sectors, uint64_t unit, uint32_t units, uint8_t* to)
{
    for (uint32_t i = 0; i < units; ++i) std::memcpy(to + i * 512, unitOf(sectors, unit + i).data(), 512);
}

void copyIn(Sectors& sectors, uint64_t unit, uint32_t units, const uint8_t* from)
{
    for (uint32_t i = 0; i < units; ++i) std::memcpy(sectors[unit + i].data(), from + i * 512, 512);
}

// --- Files: fake devices and vwin32.

constexpr SysHandle firstFileHandle = 0x70000000;
constexpr int vwin32Device = -1;

struct OpenFile {
    int device;  // index into fakeWindows.devices, or vwin32Device
    uint64_t position;
};
std::map<SysHandle, OpenFile> openFiles;
SysHandle nextFile = firstFileHandle;

SysHandle fakeCreateFile(const char* name, uint32_t access, uint32_t share, uint32_t, uint32_t)
{
    int index = vwin32Device;
    if (std::strcmp(name, "\\\\.\\vwin32") == 0) {
        ++fakeWindows.vwin32Opens;
    } else {
        FakeDevice* d = fakeWindows.device(name);
        if (!d) return invalidHandle;
        ++d->opens;
        d->lastAccess = access;
        d->lastShare = share;
        index = static_cast<int>(d - fakeWindows.devices.data());
    }
    ++fakeWindows.openHandles;
    openFiles[nextFile] = OpenFile{index, 0};
    return nextFile++;
}

OpenFile* fileOf(SysHandle h)
{
    const auto it = openFiles.find(h);
    return it == openFiles.end() ? nullptr : &it->second;
}

FakeDevice* deviceOf(const OpenFile* f)
{
    return f && f->device >= 0 ? &fakeWindows.devices[static_cast<size_t>(f->device)] : nullptr;
}

void putGeometry(const FakeDevice& d, uint32_t mediaType, uint8_t* out)
{
    writeLe64(out + geometry::cylinders, d.cylinders);
    writeLe32(out + geometry::mediaType, mediaType);
    writeLe32(out + geometry::tracksPerCylinder, d.tracksPerCylinder);
    writeLe32(out + geometry::sectorsPerTrack, d.sectorsPerTrack);
    writeLe32(out + geometry::bytesPerSector, d.bytesPerSector);
}

bool deviceControl(FakeDevice& d, uint32_t code, uint8_t* out, uint32_t outBytes, uint32_t* returned)
{
    uint32_t given = 0;
    bool ok = true;
    if (code == lockVolume) {
        ok = !d.lockRefused;
        d.locks += ok;
    } else if (code == unlockVolume) {
        ++d.unlocks;
    } else if (code == getMediaTypes) {
        ok = !d.mediaTypes.empty() && outBytes >= d.mediaTypes.size() * geometryBytes;
        for (size_t i = 0; ok && i < d.mediaTypes.size(); ++i, given += geometryBytes)
            putGeometry(d, d.mediaTypes[i], out + given);
    } else if (code == getDriveGeometry || code == getCdromGeometry) {
        ok = d.bytesPerSector != 0 && outBytes >= geometryBytes;
        if (ok) putGeometry(d, d.mediaType, out);
        given = ok ? geometryBytes : 0;
    } else {
        ok = false;
    }
    if (returned) *returned = given;
    return ok;
}

// The DOS services of vwin32.
void dosService(uint32_t code, DiocRegisters& r)
{
    const auto fail = [&r](uint32_t error) { r.eax = (r.eax & ~0xFFu) | error, r.flags |= carryFlag; };
    const int number = code == vwin32DosIoctl ? static_cast<int>(r.ebx & 0xFF) : static_cast<int>(r.eax) + 1;
    FakeDosDrive* d = fakeWindows.dosDrive(number);
    if (!d) return fail(0x0F);  // invalid drive
    r.flags &= ~carryFlag;
    if (code == vwin32DosIoctl) {
        if (r.eax != 0x440D) return fail(1);
        if (r.ecx == dosGetParameters) {
            uint8_t* p = static_cast<uint8_t*>(dosPointer(r.edx));
            p[dosParameter::deviceType] = d->deviceType;
            writeLe16(p + dosParameter::attributes, d->removable ? 0 : 1);
            writeLe16(p + dosParameter::cylinders, d->cylinders);
            writeLe16(p + dosParameter::bytesPerSector, d->bytesPerSector);
            writeLe16(p + dosParameter::sectorsPerTrack, d->sectorsPerTrack);
            const bool small = d->totalSectors <= 0xFFFF;
            writeLe16(p + dosParameter::totalSectors, small ? static_cast<uint16_t>(d->totalSectors) : 0);
            writeLe32(p + dosParameter::largeTotalSectors, small ? 0 : d->totalSectors);
        } else if (r.ecx == dosLockVolume) {
            ++d->locks;
            if (d->lockError >= 0) fail(static_cast<uint32_t>(d->lockError));
        } else if (r.ecx == dosUnlockVolume) {
            ++d->unlocks;
        }
        return;
    }
    const uint8_t* packet = static_cast<uint8_t*>(dosPointer(r.ebx));
    const uint32_t ratio = d->bytesPerSector / 512;
    const uint64_t unit = static_cast<uint64_t>(readLe32(packet)) * ratio;
    const uint32_t units = readLe16(packet + 4) * ratio;
    uint8_t* buffer = static_cast<uint8_t*>(dosPointer(readLe32(packet + 6)));
    if (code == vwin32Int25) {
        if (d->readError >= 0) return fail(static_cast<uint32_t>(d->readError));
        copyOut(d->sectors, unit, units, buffer);
    } else {
        ++d->writes;
        if (d->writeError >= 0) return fail(static_cast<uint32_t>(d->writeError));
        copyIn(d->sectors, unit, units, buffer);
    }
}

bool fakeIoControl(SysHandle h, uint32_t code, void* in, uint32_t inBytes, void* out, uint32_t outBytes,
                   uint32_t* returned)
{
    OpenFile* f = fileOf(h);
    if (!f) return false;
    if (f->device == vwin32Device) {
        if (inBytes != sizeof(DiocRegisters) || outBytes != sizeof(DiocRegisters)) return false;
        DiocRegisters r;
        std::memcpy(&r, in, sizeof r);
        dosService(code, r);
        std::memcpy(out, &r, sizeof r);
        return true;
    }
    return deviceControl(*deviceOf(f), code, static_cast<uint8_t*>(out), outBytes, returned);
}

bool fakeSeek(SysHandle h, uint64_t position, uint64_t* reached)
{
    OpenFile* f = fileOf(h);
    FakeDevice* d = deviceOf(f);
    if (!d) return false;
    d->positions.push_back(position);
    f->position = d->wrongPosition ? position & 0x7FFFFFFFu : position;
    *reached = f->position;
    return true;
}

bool fakeTransfer(SysHandle h, uint8_t* buffer, uint32_t bytes, uint32_t* done, bool writing)
{
    *done = 0;
    OpenFile* f = fileOf(h);
    FakeDevice* d = deviceOf(f);
    if (!d || f->position % 512 || bytes % 512) return false;
    ++(writing ? d->writes : d->reads);
    if (writing && d->writeProtected) return false;
    if (f->position >= d->bytes) return true;
    const uint32_t units = static_cast<uint32_t>(std::min<uint64_t>(bytes, d->bytes - f->position) / 512);
    if (writing)
        copyIn(d->sectors, f->position / 512, units, buffer);
    else
        copyOut(d->sectors, f->position / 512, units, buffer);
    f->position += units * 512u;
    *done = units * 512u;
    return true;
}

bool fakeRead(SysHandle h, void* buffer, uint32_t bytes, uint32_t* done)
{
    return fakeTransfer(h, static_cast<uint8_t*>(buffer), bytes, done, false);
}

bool fakeWrite(SysHandle h, const void* buffer, uint32_t bytes, uint32_t* done)
{
    return fakeTransfer(h, static_cast<uint8_t*>(const_cast<void*>(buffer)), bytes, done, true);
}

uint32_t fakeDriveType(const char* root)
{
    const int letter = root[0] - 'A';
    const auto& letters = fakeWindows.cdromLetters;
    return std::find(letters.begin(), letters.end(), letter) != letters.end() ? driveTypeCdrom : 3;
}

uint32_t fakeVersion() { return fakeWindows.version; }
uint32_t fakeErrorMode(uint32_t mode) { return mode; }
void fakeSleep(uint32_t milliseconds) { fakeWindows.sleeps.push_back(milliseconds); }
bool fakeFlush(SysHandle h)
{
    ++fakeWindows.flushes;
    return openFiles.count(h) != 0;
}

// --- The ASPI library and events.

#ifdef _WIN32
HMODULE doubleModule()
{
    static HMODULE module = LoadLibraryA("wnaspi32.dll");
    return module;
}

template <typename F> F doubleEntry(const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(doubleModule(), name)));
}

void* fakeLoad(const char* name)
{
    if (fakeWindows.aspiMissing) return nullptr;
    ++fakeWindows.librariesLoaded;
    return hostSystem().loadLibrary(name);
}

void* fakeProc(void* module, const char* name)
{
    if (fakeWindows.aspiEntryMissing && std::strcmp(name, "SendASPI32Command") == 0) return nullptr;
    return hostSystem().getProcAddress(module, name);
}

void fakeFree(void* module)
{
    ++fakeWindows.librariesFreed;
    hostSystem().freeLibrary(module);
}

SysHandle fakeEvent() { return hostSystem().createEvent(); }

uint32_t fakeWait(SysHandle h, uint32_t milliseconds)
{
    fakeWindows.waits.push_back(milliseconds);
    return hostSystem().waitForSingleObject(h, std::min(milliseconds, fakeWindows.waitCapMs));
}

void fakeReset(SysHandle h) { hostSystem().resetEvent(h); }
void closeEvent(SysHandle h) { hostSystem().closeHandle(h); }
#else
int libraryToken;

void* fakeLoad(const char* name)
{
    if (fakeWindows.aspiMissing || std::strcmp(name, "wnaspi32.dll") != 0) return nullptr;
    ++fakeWindows.librariesLoaded;
    return &libraryToken;
}

void* fakeProc(void* module, const char* name)
{
    if (module != &libraryToken) return nullptr;
    if (std::strcmp(name, "GetASPI32SupportInfo") == 0) return reinterpret_cast<void*>(&GetASPI32SupportInfo);
    if (std::strcmp(name, "SendASPI32Command") == 0 && !fakeWindows.aspiEntryMissing)
        return reinterpret_cast<void*>(&SendASPI32Command);
    return nullptr;
}

void fakeFree(void*) { ++fakeWindows.librariesFreed; }

// Auto-reset events; the double signals them from its completion thread.
std::mutex eventLock;
std::condition_variable eventChanged;
std::map<SysHandle, bool> events;  // handle -> signalled
SysHandle nextEvent = 0x60000000;

SysHandle fakeEvent()
{
    std::lock_guard<std::mutex> hold(eventLock);
    events[nextEvent] = false;
    return nextEvent++;
}

void signalEvent(void* event)
{
    std::lock_guard<std::mutex> hold(eventLock);
    const auto it = events.find(reinterpret_cast<SysHandle>(event));
    if (it != events.end()) it->second = true;
    eventChanged.notify_all();
}

uint32_t fakeWait(SysHandle h, uint32_t milliseconds)
{
    fakeWindows.waits.push_back(milliseconds);
    std::unique_lock<std::mutex> hold(eventLock);
    const bool came = eventChanged.wait_for(hold, std::chrono::milliseconds(std::min(milliseconds, fakeWindows.waitCapMs)),
                                            [h] { return events.count(h) && events[h]; });
    if (!came) return waitTimeout;
    events[h] = false;
    return waitObject0;
}

void fakeReset(SysHandle h)
{
    std::lock_guard<std::mutex> hold(eventLock);
    if (events.count(h)) events[h] = false;
}

void closeEvent(SysHandle h)
{
    std::lock_guard<std::mutex> hold(eventLock);
    events.erase(h);
}
#endif

void fakeClose(SysHandle h)
{
    if (openFiles.erase(h)) {
        --fakeWindows.openHandles;
        return;
    }
    closeEvent(h);
}

constexpr SystemOps fakeOps{fakeCreateFile, fakeClose,   fakeIoControl, fakeSeek,  fakeRead, fakeWrite,
                            fakeDriveType,  fakeVersion, fakeErrorMode, fakeLoad,  fakeProc, fakeFree,
                            fakeEvent,      fakeWait,    fakeReset,     fakeSleep, fakeFlush};

}  // namespace

const AspiDoubleControls& aspiDouble()
{
#ifdef _WIN32
    static const AspiDoubleControls controls{
        doubleEntry<void (*)(uint32_t)>("aspiDoubleReset"),
        doubleEntry<void (*)(const AspiDoubleDevice*)>("aspiDoubleAddDevice"),
        doubleEntry<void (*)(const AspiDoubleReply*, uint32_t)>("aspiDoubleScript"),
        doubleEntry<uint32_t (*)(AspiDoubleCall*, uint32_t)>("aspiDoubleCalls"),
        doubleEntry<void (*)()>("aspiDoubleSettle")};
#else
    static const AspiDoubleControls controls{aspiDoubleReset, aspiDoubleAddDevice, aspiDoubleScript, aspiDoubleCalls,
                                             aspiDoubleSettle};
#endif
    return controls;
}

std::vector<AspiDoubleCall> aspiCalls()
{
    std::vector<AspiDoubleCall> calls(aspiDouble().calls(nullptr, 0));
    aspiDouble().calls(calls.data(), static_cast<uint32_t>(calls.size()));
    return calls;
}

void installFakeWindows()
{
    fakeWindows = FakeWindows{};
    openFiles.clear();
#ifndef _WIN32
    aspiDoubleSetSignal(signalEvent);
#endif
    aspiDouble().reset(0);
    installSystem(&fakeOps);
}

void removeFakeWindows()
{
    aspiDouble().settle();
    installSystem(nullptr);
}

}  // namespace verrin::testsupport
