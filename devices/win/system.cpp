// The installed system table, and on systems other than Windows the host
// system: no device opens, no library loads, no drive letter is a CD-ROM.
// The Windows host system is in system_win32.cpp. Calls nothing else.
#include "devices/win/system.h"

namespace verrin::win {

bool isWin95Family = false;

#ifndef _WIN32
namespace {

SysHandle noCreateFile(const char*, uint32_t, uint32_t, uint32_t, uint32_t) { return invalidHandle; }
void noClose(SysHandle) {}
bool noIoControl(SysHandle, uint32_t, void*, uint32_t, void*, uint32_t, uint32_t*) { return false; }
bool noSeek(SysHandle, uint64_t, uint64_t*) { return false; }
bool noRead(SysHandle, void*, uint32_t, uint32_t*) { return false; }
bool noWrite(SysHandle, const void*, uint32_t, uint32_t*) { return false; }
uint32_t noDriveType(const char*) { return 0; }
uint32_t ntVersion() { return 0; }
uint32_t sameErrorMode(uint32_t mode) { return mode; }
void* noLibrary(const char*) { return nullptr; }
void* noProc(void*, const char*) { return nullptr; }
void noFree(void*) {}
SysHandle noEvent() { return 0; }
uint32_t noWait(SysHandle, uint32_t) { return waitTimeout; }
void noReset(SysHandle) {}
void noSleep(uint32_t) {}
bool noFlush(SysHandle) { return false; }

constexpr SystemOps noDevices{noCreateFile, noClose,    noIoControl, noSeek,   noRead,  noWrite,
                              noDriveType,  ntVersion,  sameErrorMode, noLibrary, noProc, noFree,
                              noEvent,      noWait,     noReset,     noSleep, noFlush};

}  // namespace

const SystemOps& hostSystem() { return noDevices; }
#endif

const SystemOps* systemCalls = &hostSystem();

void installSystem(const SystemOps* ops) { systemCalls = ops ? ops : &hostSystem(); }

}  // namespace verrin::win
