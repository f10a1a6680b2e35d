// The Windows system calls behind the raw-device paths, the ASPI transport
// and the drive enumeration, as one table of operations.
//
// The device code calls the system only through `systemCalls`, so the logic
// above it runs anywhere: the Windows build installs the real calls
// (hostSystem), other builds get a system with no devices and no libraries,
// and tests install a fake. Handles are integers: invalidHandle is the
// failed open, 0 a failed event. Numbers keep the system's own values
// (access rights, share modes, creation dispositions, drive types, wait
// results), named once below. This file calls nothing.
#pragma once

#include <cstdint>

namespace verrin::win {

using SysHandle = intptr_t;
constexpr SysHandle invalidHandle = -1;

// CreateFile access, sharing and disposition values.
constexpr uint32_t genericRead = 0x80000000u;
constexpr uint32_t genericWrite = 0x40000000u;
constexpr uint32_t shareRead = 1;
constexpr uint32_t shareWrite = 2;
constexpr uint32_t openExisting = 3;
constexpr uint32_t openAlways = 4;
constexpr uint32_t attributeNormal = 0x80;

constexpr uint32_t driveTypeCdrom = 5;  // GetDriveType
constexpr uint32_t waitObject0 = 0;     // WaitForSingleObject: signalled
constexpr uint32_t waitTimeout = 0x102;
constexpr uint32_t noOpenFileErrorBox = 0x8000;  // SetErrorMode

struct SystemOps {
    SysHandle (*createFile)(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                            uint32_t attributes);
    void (*closeHandle)(SysHandle handle);
    bool (*deviceIoControl)(SysHandle handle, uint32_t code, void* in, uint32_t inBytes, void* out,
                            uint32_t outBytes, uint32_t* returned);
    // Positions from the start of the device with the full 64-bit byte
    // offset; `reached` receives the position the system reports back.
    bool (*setFilePointer)(SysHandle handle, uint64_t position, uint64_t* reached);
    bool (*readFile)(SysHandle handle, void* buffer, uint32_t bytes, uint32_t* done);
    bool (*writeFile)(SysHandle handle, const void* buffer, uint32_t bytes, uint32_t* done);
    uint32_t (*getDriveType)(const char* root);
    uint32_t (*getVersion)();
    uint32_t (*setErrorMode)(uint32_t mode);  // returns the previous mode
    void* (*loadLibrary)(const char* name);
    void* (*getProcAddress)(void* module, const char* name);
    void (*freeLibrary)(void* module);
    SysHandle (*createEvent)();  // auto-reset, not signalled; 0 on failure
    uint32_t (*waitForSingleObject)(SysHandle handle, uint32_t milliseconds);
    void (*resetEvent)(SysHandle handle);
    void (*sleep)(uint32_t milliseconds);
    // FlushFileBuffers: the device's writes, its own cache included, on
    // the medium.
    bool (*flushBuffers)(SysHandle handle);
};

// The installed table; never null.
extern const SystemOps* systemCalls;
// Installs a table (nullptr puts hostSystem back).
void installSystem(const SystemOps* ops);
// The calls of the system the program runs on.
const SystemOps& hostSystem();

// True on the Windows 95 family: the system version word has its top bit
// set. Read from the installed system by buildDriveTable.
extern bool isWin95Family;

}  // namespace verrin::win
