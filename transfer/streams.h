// The transfer streams: a 32 KB buffer in front of a PC file or one fork of
// a Mac file, so that every translation reads and writes single bytes
// without caring which side it talks to; and the choice of the target name
// on either side, with automatic renaming and the two "Name Already Exists"
// dialogs.
// Calls the PC file seam, the volume engine, the name mapping, the settings,
// the progress window and the user-interface seam.
#pragma once

#include <cstdint>

#include "hfs/hfs.h"
#include "transfer/byte_io.h"
#include "transfer/pcfile.h"

namespace verrin {

// The file being transferred. For a PC file the name is a NUL-terminated PC
// name relative to the current directory; for a Mac file a length-prefixed
// Mac name.
struct TransferFile {
    uint8_t name[256];
    uint8_t finderInfo[16];  // type, creator, flags, location, folder
    uint32_t folderId;
    uint32_t dataLength;
    uint32_t rsrcLength;
    uint32_t createDate;  // HFS seconds; 0 = not given
    uint32_t modifyDate;
};

// Stream mode bits and the combinations in use.
enum StreamModeBits : uint8_t { streamPc = 1, streamMac = 2, streamWrite = 4, streamResource = 8 };
constexpr uint8_t modePcRead = 1;
constexpr uint8_t modePcWrite = 5;
constexpr uint8_t modeMacDataRead = 2;
constexpr uint8_t modeMacRsrcRead = 10;
constexpr uint8_t modeMacDataWrite = 6;
constexpr uint8_t modeMacRsrcWrite = 14;

constexpr uint32_t transferBufferSize = 32768;
constexpr int transferStreamCount = 2;

// One open stream; mode 0 marks a free entry.
struct TransferStream {
    uint8_t mode;
    intptr_t pcFile;
    FileRef macFile;
    TransferFile file;
    uint32_t limit;     // Mac fork read: the fork's length
    uint32_t position;  // Mac fork: bytes consumed or written so far
    uint8_t* buffer;
    uint16_t fill;   // reading: valid bytes; writing: capacity
    uint16_t index;  // next byte to hand out, or bytes waiting to be written
    // A PC file that replaces an existing one is written under this name
    // and renamed over the old file only once it is complete; empty
    // otherwise.
    char pendingName[272];
    // A PC file being read: its size and date at the open, the bytes read
    // so far, and whether its end has been reached (no further read then).
    PcFileFacts pcFacts;
    uint64_t pcBytesRead;
    bool pcAtEnd;
};

extern TransferStream transferStreams[transferStreamCount];

// Opens a stream; its index, or -1 with lastError set. A Mac fork being
// read fills in the descriptor's fork lengths, dates and Finder information.
// A Mac fork being written creates the file from the descriptor in
// currentFolderId first.
int openTransfer(uint8_t mode, TransferFile& file);
// The next byte (0..255), -1 at the end of the data, 0 at once while an
// error is pending (so callers test lastError after each byte).
int readTransferByte(int stream);
void writeTransferByte(int stream, uint8_t byte);
void flushTransfer(int stream);
// Runs of bytes, as that many readTransferByte / writeTransferByte calls
// would move them: up to `max` bytes out of a reading stream (the count
// given; 0 at the end of the data or on an error), and `length` bytes into
// a writing one.
uint32_t readTransferRun(int stream, uint8_t* buffer, uint32_t max);
void writeTransferRun(int stream, const uint8_t* bytes, uint32_t length);
// Moves up to `count` bytes from a reading stream to a writing one, a
// buffer run at a time. Stops at the end of the source or at an error;
// returns the bytes moved.
uint32_t copyTransferBytes(int from, int to, uint32_t count);
// Moves a Mac stream to the other fork of the same file (flushing a stream
// being written); the descriptor gives the new fork's length for reading.
void switchFork(int stream, const TransferFile& file);
// Flushes and closes; a PC file being written is deleted when an error is
// pending, so no partial PC file survives a failed or cancelled copy, and a
// file it was to replace keeps its old contents.
void closeTransfer(int stream);

// Results of the two target resolvers.
enum TargetAnswer : int { targetGo = 0, targetSkip = 1, targetCancel = 2, targetFailed = -1 };

// Makes `name` (256 bytes, the output of macNameToPc) a valid PC file name
// with the extension and resolves a clash with an existing file: automatic
// renaming when AutoRename is on, else the "PC Name Already Exists" dialog.
// targetGo when the caller may create the file under the (possibly changed)
// name; targetSkip or targetCancel (which also sets errCancelled) otherwise.
int resolvePcTarget(char* name, const char* extension);
// The same, creating the file: a free name is created at once, without a
// test first. targetGo with `stream` open for writing (modePcWrite),
// targetFailed (lastError set), targetSkip or targetCancel.
int createPcTarget(char* name, const char* extension, int& stream);

// Creates the Mac file named by the PC name (cut to 31 characters) in
// currentFolderId and opens the fork (dataFork or resourceFork) for writing;
// a name clash (errNameExists, which is then cleared) goes to the "Mac Name
// Already Exists" dialog. targetGo with
// `stream` open, targetFailed (lastError set), targetSkip or targetCancel.
int createMacTarget(const char* pcName, uint8_t fork, TransferFile& file, int& stream);

// The descriptor's facts in the codecs' form, and back (name cut to 31).
MacFileInfo macFileInfoOf(const TransferFile& file);
TransferFile transferFileOf(const MacFileInfo& info);

// A byte source or sink over an open stream, for the codecs. nextFork
// switches a Mac stream to the resource fork, with the fork lengths of
// `file` (which a sink may leave null).
struct StreamByteContext {
    int stream;
    const TransferFile* file;
};
ByteSource streamSource(StreamByteContext& context);
ByteSink streamSink(StreamByteContext& context);

}  // namespace verrin
