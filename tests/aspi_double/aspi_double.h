// A stand-in for the ASPI for Win32 library, for tests. Built as its own
// wnaspi32.dll beside the Windows test binary (and loaded from there by the
// transport's own loader), or linked straight into the native test binary.
//
// It answers GetASPI32SupportInfo with a word the test sets and serves
// SendASPI32Command for the devices the test attaches: disks, CD-ROMs (with
// a table of contents) and anything else by device type, each medium an
// image file read and written in place. Tests script the answers to the
// next commands (any status, adapter status and target status; completion
// at once, later from another thread through the request's event, or
// never, until aborted), cap the blocks a transfer may carry (larger ones
// are answered "buffer too big"), and read back every request received.
// Calls only the standard library and, on Windows, SetEvent.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define ASPI_DOUBLE_EXPORT __declspec(dllexport)
#else
#define ASPI_DOUBLE_EXPORT
#endif

extern "C" {

struct AspiDoubleDevice {
    uint8_t hostAdapter;
    uint8_t target;
    uint8_t deviceType;  // peripheral device type: 0 disk, 1 tape, 5 CD-ROM ...
    uint8_t removable;
    uint32_t blockSize;
    uint32_t maxBlocks;   // transfers of more blocks: "buffer too big" (0: no cap)
    char ident[25];       // vendor (8) and product (16), inquiry bytes 8..31
    char imagePath[260];  // the medium; empty: no medium (check condition)
    uint8_t toc[256];     // the READ TOC answer
};

// How a command completes.
enum AspiDoubleCompletion : uint8_t {
    completeNow = 0,    // status set before SendASPI32Command returns
    completeLater = 1,  // pending; a moment later the status is set and the event signalled
    completeNever = 2,  // pending until an abort request names it
};

// The answer to one command. status aspiDoubleServe serves the command as
// the device would (with the given completion); any other status is
// returned as it is, with the two other status bytes, and moves no data.
constexpr uint8_t aspiDoubleServe = 0xFF;
struct AspiDoubleReply {
    uint8_t status;
    uint8_t haStat;
    uint8_t targStat;
    uint8_t completion;
};

// One request received.
struct AspiDoubleCall {
    uint8_t command;  // SRB_Cmd
    uint8_t hostAdapter;
    uint8_t target;
    uint8_t flags;
    uint8_t opcode;   // CDB byte 0
    uint8_t cdbLength;
    uint8_t senseLength;
    uint32_t bufferLength;
    uint32_t address;  // READ(10)/WRITE(10): logical block address
    uint32_t blocks;   // and block count
    bool hasEvent;     // SRB_PostProc set
    const void* request;  // the request block (an abort: the block it names)
};

// Forgets devices, script and calls; GetASPI32SupportInfo will return
// supportWord (status in bits 8-15, host adapters in bits 0-7).
ASPI_DOUBLE_EXPORT void aspiDoubleReset(uint32_t supportWord);
ASPI_DOUBLE_EXPORT void aspiDoubleAddDevice(const AspiDoubleDevice* device);
// Answers for the next `count` commands, in order (abort requests excluded).
ASPI_DOUBLE_EXPORT void aspiDoubleScript(const AspiDoubleReply* replies, uint32_t count);
// Copies up to `capacity` calls received since the reset; returns how many
// there are.
ASPI_DOUBLE_EXPORT uint32_t aspiDoubleCalls(AspiDoubleCall* out, uint32_t capacity);
// Waits for a later completion still under way (so a test can tidy up).
ASPI_DOUBLE_EXPORT void aspiDoubleSettle();
// Without Windows events: the function that signals a request's event.
ASPI_DOUBLE_EXPORT void aspiDoubleSetSignal(void (*signal)(void* event));

// The library's own two entry points.
ASPI_DOUBLE_EXPORT uint32_t GetASPI32SupportInfo(void);
ASPI_DOUBLE_EXPORT uint32_t SendASPI32Command(void* request);
}
