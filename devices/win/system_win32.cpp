// The Windows host system: the real calls behind the system table. Calls
// kernel32 only.
#ifdef _WIN32
#include <windows.h>

#include "devices/win/system.h"

namespace verrin::win {

namespace {

HANDLE handleOf(SysHandle handle) { return reinterpret_cast<HANDLE>(handle); }

SysHandle hostCreateFile(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                         uint32_t attributes)
{
    const HANDLE h = CreateFileA(name, access, share, nullptr, disposition, attributes, nullptr);
    return h == INVALID_HANDLE_VALUE ? invalidHandle : reinterpret_cast<SysHandle>(h);
}

void hostClose(SysHandle handle) { CloseHandle(handleOf(handle)); }

bool hostIoControl(SysHandle handle, uint32_t code, void* in, uint32_t inBytes, void* out, uint32_t outBytes,
                   uint32_t* returned)
{
    DWORD got = 0;
    const BOOL ok = DeviceIoControl(handleOf(handle), code, in, inBytes, out, outBytes, &got, nullptr);
    if (returned) *returned = got;
    return ok != FALSE;
}

bool hostSeek(SysHandle handle, uint64_t position, uint64_t* reached)
{
    LARGE_INTEGER wanted;
    LARGE_INTEGER now;
    wanted.QuadPart = static_cast<LONGLONG>(position);
    now.QuadPart = 0;
    const BOOL ok = SetFilePointerEx(handleOf(handle), wanted, &now, FILE_BEGIN);
    if (reached) *reached = static_cast<uint64_t>(now.QuadPart);
    return ok != FALSE;
}

bool hostRead(SysHandle handle, void* buffer, uint32_t bytes, uint32_t* done)
{
    DWORD got = 0;
    const BOOL ok = ReadFile(handleOf(handle), buffer, bytes, &got, nullptr);
    *done = got;
    return ok != FALSE;
}

bool hostWrite(SysHandle handle, const void* buffer, uint32_t bytes, uint32_t* done)
{
    DWORD put = 0;
    const BOOL ok = WriteFile(handleOf(handle), buffer, bytes, &put, nullptr);
    *done = put;
    return ok != FALSE;
}

uint32_t hostDriveType(const char* root) { return GetDriveTypeA(root); }
uint32_t hostVersion() { return GetVersion(); }
uint32_t hostErrorMode(uint32_t mode) { return SetErrorMode(mode); }
void* hostLoad(const char* name) { return reinterpret_cast<void*>(LoadLibraryA(name)); }

void* hostProc(void* module, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void hostFree(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

SysHandle hostEvent()
{
    const HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return h ? reinterpret_cast<SysHandle>(h) : 0;
}

uint32_t hostWait(SysHandle handle, uint32_t milliseconds)
{
    return WaitForSingleObject(handleOf(handle), milliseconds);
}

void hostReset(SysHandle handle) { ResetEvent(handleOf(handle)); }
void hostSleep(uint32_t milliseconds) { Sleep(milliseconds); }
bool hostFlush(SysHandle handle) { return FlushFileBuffers(handleOf(handle)) != FALSE; }

constexpr SystemOps host{hostCreateFile, hostClose,    hostIoControl, hostSeek,  hostRead, hostWrite,
                         hostDriveType,  hostVersion,  hostErrorMode, hostLoad,  hostProc, hostFree,
                         hostEvent,      hostWait,     hostReset,     hostSleep, hostFlush};

}  // namespace

const SystemOps& hostSystem() { return host; }

}  // namespace verrin::win
#endif
