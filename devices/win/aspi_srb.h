// ASPI for Win32 request blocks, status values and SCSI command bytes, as
// published for the interface (packed, little-endian). On 32-bit Windows a
// SCSI request block is exactly 80 bytes; the 64-bit build keeps the same
// fields in the same order with pointer-sized pointer fields. Shared by the
// transport and anything that serves it. Calls nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace verrin::win {

// Request codes (SRB_Cmd).
constexpr uint8_t scExecScsiCmd = 0x02;
constexpr uint8_t scAbortSrb = 0x03;

// SRB_Flags.
constexpr uint8_t srbDirIn = 0x08;
constexpr uint8_t srbDirOut = 0x10;
constexpr uint8_t srbEventNotify = 0x40;

// SRB_Status values the transport acts on.
constexpr uint8_t ssPending = 0x00;
constexpr uint8_t ssComp = 0x01;
constexpr uint8_t ssAborted = 0x02;
constexpr uint8_t ssErr = 0x04;
constexpr uint8_t ssInvalidHa = 0x81;
constexpr uint8_t ssNoDevice = 0x82;
constexpr uint8_t ssAspiIsBusy = 0xE5;
constexpr uint8_t ssBufferTooBig = 0xE6;

// SCSI operation codes.
constexpr uint8_t scsiInquiry = 0x12;
constexpr uint8_t scsiReadCapacity = 0x25;
constexpr uint8_t scsiRead10 = 0x28;
constexpr uint8_t scsiWrite10 = 0x2A;
constexpr uint8_t scsiReadToc = 0x43;
constexpr uint8_t scsiSynchronizeCache = 0x35;

// Peripheral device types (inquiry byte 0, low 5 bits).
constexpr uint8_t deviceDisk = 0;
constexpr uint8_t deviceTape = 1;
constexpr uint8_t deviceWorm = 4;
constexpr uint8_t deviceCdrom = 5;
constexpr uint8_t deviceOptical = 7;

constexpr uint8_t senseLength = 14;
constexpr uint32_t tocBytes = 256;

#pragma pack(push, 1)
struct SrbExecScsiCmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;  // the completion event
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[16];
};

struct SrbAbort {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};
#pragma pack(pop)

static_assert(offsetof(SrbExecScsiCmd, SRB_BufLen) == 12 && offsetof(SrbExecScsiCmd, SRB_BufPointer) == 16);
static_assert(offsetof(SrbExecScsiCmd, SRB_SenseLen) == 16 + sizeof(void*));
static_assert(offsetof(SrbExecScsiCmd, SRB_PostProc) == 20 + sizeof(void*));
static_assert(sizeof(SrbExecScsiCmd) == 72 + 2 * sizeof(void*));
static_assert(sizeof(SrbAbort) == 8 + sizeof(void*));
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SrbExecScsiCmd) == 80 && offsetof(SrbExecScsiCmd, SRB_PostProc) == 24 &&
              offsetof(SrbExecScsiCmd, CDBByte) == 48 && offsetof(SrbExecScsiCmd, SenseArea) == 64);
static_assert(sizeof(SrbAbort) == 12);
#endif

// The two entry points of the library.
using GetAspiSupportInfoFn = uint32_t (*)();
using SendAspiCommandFn = uint32_t (*)(void* srb);

}  // namespace verrin::win
