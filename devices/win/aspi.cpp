// The ASPI SCSI transport. See aspi.h.
#include "devices/win/aspi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hfs/format.h"
#include "devices/win/aspi_srb.h"
#include "devices/win/system.h"
#include "base/byteorder.h"

namespace verrin::win {

int aspiHostAdapters = 0;

namespace {

void* library = nullptr;
SendAspiCommandFn sendCommand = nullptr;

// One request block per command kind: only one command is ever outstanding,
// and the library may write a block until the command completes.
SrbExecScsiCmd inquirySrb;
SrbExecScsiCmd capacitySrb;
SrbExecScsiCmd readSrb;
SrbExecScsiCmd writeSrb;
SrbExecScsiCmd tocSrb;
SrbExecScsiCmd syncSrb;
SrbAbort abortSrb;

// One command: what goes into its request block, and how often it is tried.
struct Command {
    SrbExecScsiCmd& srb;
    uint8_t opcode;
    uint8_t flags;
    uint8_t cdbLength;
    uint32_t attempts;
    uint32_t blockSize;    // READ(10)/WRITE(10): bytes per block; 0 for the others
    uint32_t fixedLength;  // buffer length of the others
    uint32_t address;      // logical block address
    uint8_t* buffer;
};

constexpr uint8_t flagsIn = srbDirIn | srbEventNotify;
constexpr uint8_t flagsOut = srbDirOut | srbEventNotify;
constexpr uint8_t flagsNone = srbEventNotify;
constexpr int32_t noEvent = -1;

void fillRequest(const Command& c, int hostAdapter, int target, uint32_t blocks, SysHandle event)
{
    SrbExecScsiCmd& s = c.srb;
    std::memset(&s, 0, sizeof s);
    s.SRB_Cmd = scExecScsiCmd;
    s.SRB_HaId = static_cast<uint8_t>(hostAdapter);
    s.SRB_Flags = c.flags;
    s.SRB_Target = static_cast<uint8_t>(target);
    s.SRB_BufLen = c.blockSize ? blocks * c.blockSize : c.fixedLength;
    s.SRB_BufPointer = c.buffer;
    s.SRB_SenseLen = senseLength;
    s.SRB_CDBLen = c.cdbLength;
    s.SRB_PostProc = reinterpret_cast<void*>(event);
    s.CDBByte[0] = c.opcode;
    if (c.opcode == scsiInquiry) {
        s.CDBByte[4] = static_cast<uint8_t>(inquiryBytes);
    } else if (c.opcode == scsiRead10 || c.opcode == scsiWrite10) {
        write32(s.CDBByte + 2, c.address);
        write16(s.CDBByte + 7, static_cast<uint16_t>(blocks));
    } else if (c.opcode == scsiReadToc) {
        write16(s.CDBByte + 7, static_cast<uint16_t>(tocBytes));
    }
}

// The library writes the status of a pending request from elsewhere.
uint8_t statusOf(const SrbExecScsiCmd& s) { return static_cast<const volatile uint8_t&>(s.SRB_Status); }

void abortRequest(int hostAdapter, SrbExecScsiCmd& pending)
{
    std::memset(&abortSrb, 0, sizeof abortSrb);
    abortSrb.SRB_Cmd = scAbortSrb;
    abortSrb.SRB_HaId = static_cast<uint8_t>(hostAdapter);
    abortSrb.SRB_ToAbort = &pending;
    sendCommand(&abortSrb);
}

// Runs a command through its attempts: the block count of the attempt that
// succeeded (1 for commands without blocks), 0 when it failed, noEvent
// when no completion event could be made.
int32_t execute(const Command& c, int hostAdapter, int target, uint32_t blocks)
{
    if (!sendCommand) return 0;
    const SystemOps& sys = *systemCalls;
    const SysHandle event = sys.createEvent();
    if (!event) return noEvent;
    int32_t result = 0;
    for (uint32_t attempt = 0; attempt < c.attempts; ++attempt) {
        fillRequest(c, hostAdapter, target, blocks, event);
        sendCommand(&c.srb);
        if (statusOf(c.srb) == ssPending) {
            if (sys.waitForSingleObject(event, aspiTimeoutMs) != waitObject0) {
                abortRequest(hostAdapter, c.srb);
                sys.sleep(aspiAbortSleepMs);
                break;
            }
            sys.resetEvent(event);
        }
        const uint8_t status = statusOf(c.srb);
        if (c.srb.SRB_HaStat != 0) continue;
        if (status == ssComp || (status == ssErr && c.srb.SRB_TargStat == 0)) {
            result = static_cast<int32_t>(c.blockSize ? blocks : 1);
            break;
        }
        if (status == ssNoDevice) break;
        if (status == ssAspiIsBusy) {
            sys.sleep(aspiBusySleepMs);
        } else if (status == ssBufferTooBig && c.blockSize) {
            // A quarter of the blocks each time; the last attempt gets one.
            blocks = attempt + 1 < c.attempts ? (blocks + 3) / 4 : 1;
            transferCap = blocks * (c.blockSize / 512);
        }
    }
    sys.closeHandle(event);
    return result;
}

int32_t transfer(SrbExecScsiCmd& srb, uint8_t opcode, uint8_t flags, int hostAdapter, int target, uint32_t address,
                 uint32_t blockSize, uint32_t count, uint8_t* buffer)
{
    if (blockSize < 512 || count == 0 || count > 0xFFFF) return 0;
    const Command c{srb, opcode, flags, 10, 4, blockSize, 0, address, buffer};
    return std::max(0, execute(c, hostAdapter, target, count));
}

// --- The drive operations of an `aspiDevice` entry.

uint32_t blockSizeOf(const DriveEntry& entry) { return (entry.sectorRatio ? entry.sectorRatio : 1) * 512u; }

int32_t aspiSectorsIn(DriveEntry& entry, uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    if (deviceSector > 0xFFFFFFFFu) return 0;
    return aspiRead(entry.hostAdapter, entry.unit, static_cast<uint32_t>(deviceSector), blockSizeOf(entry), sectors,
                    buffer);
}

int32_t aspiSectorsOut(DriveEntry& entry, const uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    if (deviceSector > 0xFFFFFFFFu) return 0;
    return aspiWrite(entry.hostAdapter, entry.unit, static_cast<uint32_t>(deviceSector), blockSizeOf(entry), sectors,
                     buffer);
}

int32_t aspiDriveRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    return convertedRead(entry, aspiSectorsIn, buffer, count, address);
}

int32_t aspiDriveWrite(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    return convertedWrite(entry, aspiSectorsIn, aspiSectorsOut, buffer, count, address);
}

uint32_t aspiSectorSize(DriveEntry& entry, uint64_t* capacity)
{
    return aspiReadCapacity(entry.hostAdapter, entry.unit, capacity);
}

// The write barrier: SYNCHRONIZE CACHE for the whole medium. The command is
// optional before SCSI-3, and a drive that does not know it has no write
// cache to empty, so its refusal is no failure.
bool aspiDriveSync(DriveEntry& entry)
{
    const Command c{syncSrb, scsiSynchronizeCache, flagsNone, 10, 1, 0, 0, 0, nullptr};
    execute(c, entry.hostAdapter, entry.unit, 1);
    return true;
}

// The journal's name for the medium: adapter, target, the drive's own
// identification (in its label) and the medium's size.
bool aspiIdentity(DriveEntry& entry, char* text, size_t capacity)
{
    uint64_t blocks = 0;
    const uint32_t blockSize = aspiReadCapacity(entry.hostAdapter, entry.unit, &blocks);
    const char* ident = std::strchr(entry.label, ']');
    const int written = std::snprintf(text, capacity, "Aspi%u-%d-%s-%llu", static_cast<unsigned>(entry.hostAdapter),
                                      static_cast<int>(entry.unit), ident ? ident + 1 : "",
                                      static_cast<unsigned long long>(blocks * blockSize));
    return written > 0 && static_cast<size_t>(written) < capacity;
}

const char* typeName(uint8_t deviceType)
{
    switch (deviceType) {
    case deviceDisk: return "DISK";
    case deviceWorm: return "WORM";
    case deviceCdrom: return "CDRM";
    case deviceOptical: return "OPTI";
    default: return nullptr;
    }
}

}  // namespace

void unloadAspi()
{
    if (library) systemCalls->freeLibrary(library);
    library = nullptr;
    sendCommand = nullptr;
    aspiHostAdapters = 0;
}

int loadAspi()
{
    unloadAspi();
    const SystemOps& sys = *systemCalls;
    const uint32_t previousMode = sys.setErrorMode(noOpenFileErrorBox);
    library = sys.loadLibrary("wnaspi32.dll");
    sys.setErrorMode(previousMode);
    if (!library) return aspiNoLibrary;
    const auto supportInfo = reinterpret_cast<GetAspiSupportInfoFn>(sys.getProcAddress(library, "GetASPI32SupportInfo"));
    sendCommand = reinterpret_cast<SendAspiCommandFn>(sys.getProcAddress(library, "SendASPI32Command"));
    if (!supportInfo || !sendCommand) {
        unloadAspi();
        return aspiNoEntryPoints;
    }
    const uint32_t support = supportInfo();
    if (((support >> 8) & 0xFF) != ssComp) {
        unloadAspi();
        return aspiManagerNotReady;
    }
    if ((support & 0xFF) == 0) {
        unloadAspi();
        return aspiNoHostAdapters;
    }
    aspiHostAdapters = static_cast<int>(support & 0xFF);
    return aspiLoaded;
}

int aspiInquiry(int hostAdapter, int target)
{
    const Command c{inquirySrb, scsiInquiry, flagsIn, 6, 3, 0, inquiryBytes, 0, bounceBuffer};
    const int32_t r = execute(c, hostAdapter, target, 1);
    return r > 0 ? 0 : r == noEvent ? -3 : -1;
}

uint32_t aspiReadCapacity(int hostAdapter, int target, uint64_t* capacity)
{
    constexpr uint32_t capacityBytes = 8;
    const Command c{capacitySrb, scsiReadCapacity, flagsNone, 10, 3, 0, capacityBytes, 0, bounceBuffer};
    if (capacity) *capacity = 0;
    if (execute(c, hostAdapter, target, 1) <= 0) return 0;
    if (capacity) *capacity = static_cast<uint64_t>(read32(bounceBuffer)) + 1;
    return read16(bounceBuffer + 6);
}

int32_t aspiRead(int hostAdapter, int target, uint32_t address, uint32_t blockSize, uint32_t count, uint8_t* buffer)
{
    return transfer(readSrb, scsiRead10, flagsIn, hostAdapter, target, address, blockSize, count, buffer);
}

int32_t aspiWrite(int hostAdapter, int target, uint32_t address, uint32_t blockSize, uint32_t count,
                  const uint8_t* buffer)
{
    return transfer(writeSrb, scsiWrite10, flagsOut, hostAdapter, target, address, blockSize, count,
                    const_cast<uint8_t*>(buffer));
}

int32_t aspiReadToc(DriveEntry& entry, uint8_t* toc256)
{
    const Command c{tocSrb, scsiReadToc, flagsNone, 10, 3, 0, tocBytes, 0, bounceBuffer};
    if (execute(c, entry.hostAdapter, entry.unit, 1) <= 0) return -1;
    std::memcpy(toc256, bounceBuffer, tocBytes);
    return 0;
}

AspiInquiry inquiryFromBounceBuffer()
{
    AspiInquiry q{};
    q.deviceType = bounceBuffer[0] & 0x1F;
    q.removable = (bounceBuffer[1] & 0x80) != 0;
    // Only the 32 bytes asked for are read: vendor and product.
    size_t length = 0;
    for (uint32_t i = 8; i < inquiryBytes && bounceBuffer[i] != 0; ++i)
        q.ident[length++] = bounceBuffer[i] >= 0x20 && bounceBuffer[i] < 0x7F ? static_cast<char>(bounceBuffer[i]) : ' ';
    q.ident[length] = 0;
    return q;
}

bool aspiEntry(int hostAdapter, int target, const AspiInquiry& inquiry, DriveEntry& out)
{
    const char* name = typeName(inquiry.deviceType);
    if (!name) return false;
    out = DriveEntry{};
    out.kind = DriveKind::aspiDevice;
    out.unit = target;
    out.hostAdapter = static_cast<uint16_t>(hostAdapter);
    out.sectorRatio = 1;
    out.read = aspiDriveRead;
    out.querySectorSize = aspiSectorSize;
    if (inquiry.deviceType == deviceDisk || inquiry.deviceType == deviceOptical) {
        out.write = aspiDriveWrite;
        out.sync = aspiDriveSync;
        out.identity = aspiIdentity;
        out.format = formatPartitionedMedium;
    } else if (inquiry.deviceType == deviceCdrom) {
        out.readToc = aspiReadToc;
        out.flags = driveMultisession;
    }
    // The identification text with runs of spaces made single, after the
    // type and address; the whole label is cut to 30 characters.
    char ident[sizeof inquiry.ident];
    size_t length = 0;
    for (size_t i = 0; inquiry.ident[i]; ++i)
        if (inquiry.ident[i] != ' ' || length == 0 || ident[length - 1] != ' ') ident[length++] = inquiry.ident[i];
    ident[length] = 0;
    char text[80];
    std::snprintf(text, sizeof text, "[WASPI-%s %1d%1d] %s", name, hostAdapter, target, ident);
    constexpr size_t labelLimit = 30;
    std::memcpy(out.label, text, std::min(std::strlen(text), labelLimit));
    return true;
}

}  // namespace verrin::win
