// The transfer streams and the target-name resolvers (see streams.h).
//
// Two stream slots, each with its own 32 KB buffer, made at the slot's
// first use and kept for the files after (a copy of thousands of small
// files allocates no buffer per file). Mac forks are read 64 sectors at a
// time straight into the buffer and written a full buffer at a time by
// appending to the fork (a large copy from a PC file, 1 MB pieces at a
// time); PC files go through the PC file seam. Every refill moves the
// progress bar by the bytes it brings in, and the message pump runs there
// so that a Cancel in the progress window stops the copy at the next byte.
// Calls the PC file seam, the volume engine (openFileRef, readFork,
// createFile, appendToFork, deleteFile), the name mapping, the settings, the
// progress window and the user-interface seam.
#include "transfer/streams.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "base/progress.h"
#include "base/settings.h"
#include "base/ui.h"
#include "hfs/hfs.h"
#include "hfs/layout.h"
#include "transfer/names.h"
#include "transfer/pcfile.h"

namespace verrin {

TransferStream transferStreams[transferStreamCount];

namespace {

std::unique_ptr<uint8_t[]> slotBuffers[transferStreamCount];

TransferStream* streamAt(int stream)
{
    if (stream < 0 || stream >= transferStreamCount) return nullptr;
    TransferStream* s = &transferStreams[stream];
    return s->mode == 0 ? nullptr : s;
}

void freeEntry(TransferStream& s) { s = TransferStream{}; }

bool isMac(const TransferStream& s) { return (s.mode & streamMac) != 0; }
uint8_t forkOf(const TransferStream& s) { return (s.mode & streamResource) ? resourceFork : dataFork; }

// Opens the Mac file named by the descriptor in its folder and pins the
// buffer holding its catalog record.
bool openMacFile(TransferStream& s, uint32_t folderId)
{
    uint8_t name[32];
    std::memcpy(name, s.file.name, 32);
    name[0] = std::min<uint8_t>(name[0], 31);
    s.macFile = openFileRef(folderId, name);
    if (lastError != errNone || !s.macFile.buffer) {
        setError(errBadNode);
        s.macFile = FileRef{};
        return false;
    }
    pinBuffer(s.macFile.buffer);
    return true;
}

// Appends bytes to the fork a stream writes and moves its position on.
void appendToStreamFork(TransferStream& s, const uint8_t* data, uint32_t length)
{
    WriteRequest request{};
    request.forkType = forkOf(s);
    request.ref = s.macFile;
    request.position = s.position;
    request.data = data;
    request.length = length;
    const uint32_t written = appendToFork(request);
    if (lastError == errNone && written != length) setError(errMacWrite);
    s.position += length;
}

// Writes the waiting bytes of a stream open for writing.
void writeOut(TransferStream& s)
{
    if (lastError != errNone || s.index == 0) return;
    if (isMac(s)) {
        appendToStreamFork(s, s.buffer, s.index);
    } else {
        const int32_t n = pcWrite(s.pcFile, s.buffer, s.index);
        if (n < 0)
            setError(errPcWrite);
        else if (static_cast<uint32_t>(n) < s.index)
            setError(errPcDiskFull);
    }
    s.index = 0;
}

// Counts the bytes a read of `asked` bytes from a PC file brought. The end
// is reached when the system says so, or when a short read brings the file
// to the size it had at the open: then no read is made only to find the
// end. A file whose size changed meanwhile is read until the system says
// it ends, so no byte is lost or invented.
void notePcRead(TransferStream& s, int32_t got, uint32_t asked)
{
    s.pcBytesRead += static_cast<uint32_t>(got);
    if (got == 0 || (static_cast<uint32_t>(got) < asked && s.pcFacts.known && s.pcBytesRead == s.pcFacts.size))
        s.pcAtEnd = true;
}

// Refills a reading stream's buffer; false at the end of the data or on an
// error (lastError tells which).
bool refill(TransferStream& s)
{
    pumpMessages();
    if (lastError != errNone) return false;
    uint32_t amount = 0;
    if (isMac(s)) {
        const uint32_t firstSector = (s.position + 511) / 512;
        const int32_t sectors = readFork(s.buffer, firstSector, transferBufferSize / 512, forkOf(s), s.macFile);
        if (lastError != errNone) return false;
        if (sectors <= 0) {
            // The fork ends before its recorded length: a damaged record.
            setError(errBadNode);
            return false;
        }
        s.fill = static_cast<uint16_t>(static_cast<uint32_t>(sectors) * 512);
        amount = std::min<uint32_t>(s.fill, s.limit - s.position);
    } else {
        if (s.pcAtEnd) return false;
        const int32_t n = pcRead(s.pcFile, s.buffer, transferBufferSize);
        if (n < 0) {
            setError(errPcRead);
            return false;
        }
        notePcRead(s, n, transferBufferSize);
        if (n == 0) return false;
        s.fill = static_cast<uint16_t>(n);
        amount = static_cast<uint32_t>(n);
    }
    advanceProgress(amount);
    s.index = 0;
    pumpMessages();
    return lastError == errNone;
}

// The large pieces of copyInPieces.
constexpr uint32_t bulkPieceBytes = 1u << 20;

// Moves whole pieces of up to bulkPieceBytes from a PC stream whose buffer
// is used up to a fork stream with nothing waiting, through one buffer of
// their own: each byte is copied once, and the medium is written a piece at
// a time. Progress and the message pump run per piece as a refill runs
// them. Stops when fewer than a piece remain of `count`, at the end of the
// file or at an error; the bytes moved (0 without memory for the piece).
uint32_t copyInPieces(TransferStream& source, TransferStream& target, uint32_t count)
{
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[bulkPieceBytes]);
    if (!piece) return 0;
    uint32_t moved = 0;
    while (count - moved >= bulkPieceBytes) {
        pumpMessages();
        if (lastError != errNone || source.pcAtEnd) break;
        const int32_t n = pcRead(source.pcFile, piece.get(), bulkPieceBytes);
        if (n < 0) {
            setError(errPcRead);
            break;
        }
        notePcRead(source, n, bulkPieceBytes);
        if (n == 0) break;
        const uint32_t got = static_cast<uint32_t>(n);
        advanceProgress(got);
        appendToStreamFork(target, piece.get(), got);
        moved += got;
        pumpMessages();
        if (lastError != errNone || got < bulkPieceBytes) break;
    }
    return moved;
}

// A name the user typed for a PC file: not empty and naming a file of the
// current directory, not a path.
bool acceptablePcName(const char* name)
{
    if (!*name) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (const char* p = name; *p; ++p)
        if (*p == '/' || *p == '\\' || *p == ':') return false;
    return true;
}

}  // namespace

namespace {

// Opens a stream as openTransfer does; `created` is a PC file already
// created for a stream being written (noPcFile: none), which the stream
// takes over.
int openStream(uint8_t mode, TransferFile& file, PcHandle created)
{
    if (lastError != errNone) return -1;
    int slot = -1;
    for (int i = 0; i < transferStreamCount && slot < 0; ++i)
        if (transferStreams[i].mode == 0) slot = i;
    if (slot < 0) {
        setError(errTooManyOpen);
        return -1;
    }
    TransferStream& s = transferStreams[slot];
    s = TransferStream{};
    s.pcFile = noPcFile;
    std::unique_ptr<uint8_t[]>& buffer = slotBuffers[slot];
    if (!buffer) buffer.reset(new (std::nothrow) uint8_t[transferBufferSize]);
    s.buffer = buffer.get();
    if (!s.buffer) {
        setError(errNoMemory);
        s = TransferStream{};
        return -1;
    }
    s.mode = mode;
    s.file = file;
    s.file.name[255] = 0;
    bool ok = true;
    switch (mode) {
    case modePcWrite: {
        s.fill = static_cast<uint16_t>(transferBufferSize);
        const char* name = reinterpret_cast<const char*>(s.file.name);
        // A free name is created at once. Replacing a file: the old one
        // stays until the new one is whole.
        s.pcFile = created != noPcFile ? created : pcCreateNew(name);
        if (s.pcFile != noPcFile) break;
        const char* createName = name;
        if (pcFileTaken(name)) {
            const std::string pending = std::string(name) + ".~partial";
            std::memcpy(s.pendingName, pending.c_str(), std::min(pending.size() + 1, sizeof s.pendingName));
            createName = s.pendingName;
        }
        s.pcFile = pcCreate(createName);
        if (s.pcFile == noPcFile) {
            setError(errPcCreate);
            ok = false;
        }
        break;
    }
    case modePcRead:
        s.pcFile = pcOpenRead(reinterpret_cast<const char*>(s.file.name), &s.pcFacts);
        if (s.pcFile == noPcFile) {
            setError(errPcOpen);
            ok = false;
        }
        break;
    case modeMacDataWrite:
    case modeMacRsrcWrite: {
        s.fill = static_cast<uint16_t>(transferBufferSize);
        s.file.folderId = currentFolderId;
        file.folderId = currentFolderId;
        FileInfo info{};
        std::memcpy(info.name, s.file.name, 32);
        info.name[0] = std::min<uint8_t>(info.name[0], 31);
        std::memcpy(info.finderInfo, s.file.finderInfo, 16);
        info.createDate = s.file.createDate;
        info.modifyDate = s.file.modifyDate;
        s.macFile = createFile(info);
        if (lastError == errNone && !s.macFile.buffer) setError(errBadNode);
        ok = lastError == errNone;
        if (ok) pinBuffer(s.macFile.buffer);
        break;
    }
    case modeMacDataRead:
    case modeMacRsrcRead: {
        ok = openMacFile(s, s.file.folderId);
        if (!ok) break;
        const uint8_t* rec = s.macFile.buffer->data + s.macFile.offset;
        s.file.dataLength = forkLogicalLength(s.macFile, dataFork);
        s.file.rsrcLength = forkLogicalLength(s.macFile, resourceFork);
        s.file.createDate = read32(rec + fil::crDat);
        s.file.modifyDate = read32(rec + fil::mdDat);
        std::memcpy(s.file.finderInfo, rec + fil::usrWds, 16);
        file.dataLength = s.file.dataLength;
        file.rsrcLength = s.file.rsrcLength;
        file.createDate = s.file.createDate;
        file.modifyDate = s.file.modifyDate;
        std::memcpy(file.finderInfo, s.file.finderInfo, 16);
        s.limit = mode == modeMacRsrcRead ? s.file.rsrcLength : s.file.dataLength;
        break;
    }
    default:
        setError(errNotSupported);
        ok = false;
    }
    if (!ok) {
        if (s.pcFile != noPcFile) pcClose(s.pcFile);
        if (s.macFile.buffer) unpinBuffer(s.macFile.buffer);
        freeEntry(s);
        return -1;
    }
    return slot;
}

}  // namespace

int openTransfer(uint8_t mode, TransferFile& file) { return openStream(mode, file, noPcFile); }

int readTransferByte(int stream)
{
    if (lastError != errNone) return 0;
    TransferStream* s = streamAt(stream);
    if (!s || (s->mode & streamWrite)) return -1;
    if (isMac(*s) && s->position >= s->limit) return -1;
    if (s->index >= s->fill && !refill(*s)) return lastError != errNone ? 0 : -1;
    const uint8_t b = s->buffer[s->index];
    ++s->index;
    ++s->position;
    return b;
}

uint32_t readTransferRun(int stream, uint8_t* buffer, uint32_t max)
{
    if (lastError != errNone) return 0;
    TransferStream* s = streamAt(stream);
    if (!s || (s->mode & streamWrite)) return 0;
    uint32_t given = 0;
    while (given < max && lastError == errNone) {
        if (isMac(*s) && s->position >= s->limit) break;
        if (s->index >= s->fill && !refill(*s)) break;
        // A run: what the buffer holds, the caller takes and the fork's
        // length allows.
        uint32_t run = std::min<uint32_t>(s->fill - s->index, max - given);
        if (isMac(*s)) run = std::min(run, s->limit - s->position);
        std::memcpy(buffer + given, s->buffer + s->index, run);
        s->index = static_cast<uint16_t>(s->index + run);
        s->position += run;
        given += run;
    }
    return lastError == errNone ? given : 0;
}

void writeTransferRun(int stream, const uint8_t* bytes, uint32_t length)
{
    TransferStream* s = streamAt(stream);
    if (!s || !(s->mode & streamWrite)) return;
    while (length > 0 && lastError == errNone) {
        const uint32_t run = std::min<uint32_t>(s->fill - s->index, length);
        std::memcpy(s->buffer + s->index, bytes, run);
        s->index = static_cast<uint16_t>(s->index + run);
        bytes += run;
        length -= run;
        if (s->index >= s->fill) writeOut(*s);
    }
}

uint32_t copyTransferBytes(int from, int to, uint32_t count)
{
    TransferStream* source = streamAt(from);
    TransferStream* target = streamAt(to);
    if (!source || !target || (source->mode & streamWrite) || !(target->mode & streamWrite)) return 0;
    uint32_t moved = 0;
    while (moved < count && lastError == errNone) {
        // Past its first buffer a PC file goes into a fork in large pieces.
        if (moved >= transferBufferSize && !isMac(*source) && isMac(*target) && source->index >= source->fill &&
            target->index == 0 && count - moved >= bulkPieceBytes) {
            const uint32_t bulk = copyInPieces(*source, *target, count - moved);
            moved += bulk;
            if (bulk > 0 || lastError != errNone) continue;
        }
        // Straight into the target's buffer, as much as it takes.
        const uint32_t room = std::min<uint32_t>(target->fill - target->index, count - moved);
        const uint32_t run = readTransferRun(from, target->buffer + target->index, room);
        if (run == 0) break;
        target->index = static_cast<uint16_t>(target->index + run);
        moved += run;
        if (target->index >= target->fill) writeOut(*target);
    }
    return moved;
}

void writeTransferByte(int stream, uint8_t byte)
{
    if (lastError != errNone) return;
    TransferStream* s = streamAt(stream);
    if (!s || !(s->mode & streamWrite)) return;
    s->buffer[s->index++] = byte;
    if (s->index >= s->fill) writeOut(*s);
}

void flushTransfer(int stream)
{
    TransferStream* s = streamAt(stream);
    if (s && (s->mode & streamWrite)) writeOut(*s);
}

void switchFork(int stream, const TransferFile& file)
{
    TransferStream* s = streamAt(stream);
    if (!s || !isMac(*s)) return;
    if (s->mode & streamWrite) {
        writeOut(*s);
        s->fill = static_cast<uint16_t>(transferBufferSize);
    } else {
        s->fill = 0;
    }
    s->mode ^= streamResource;
    s->limit = (s->mode & streamResource) ? file.rsrcLength : file.dataLength;
    s->index = 0;
    s->position = 0;
}

void closeTransfer(int stream)
{
    TransferStream* s = streamAt(stream);
    if (!s) return;
    if (s->mode & streamWrite) writeOut(*s);
    if (isMac(*s)) {
        unpinBuffer(s->macFile.buffer);
    } else if (s->pcFile != noPcFile) {
        const bool closed = pcClose(s->pcFile);
        if (!closed && (s->mode & streamWrite)) setError(errPcWrite);
        const char* name = reinterpret_cast<const char*>(s->file.name);
        const char* written = s->pendingName[0] ? s->pendingName : name;
        if (s->mode == modePcWrite && lastError == errNone && s->pendingName[0] && !pcRename(written, name))
            setError(errPcWrite);
        if (s->mode == modePcWrite && lastError != errNone) pcDelete(written);
    }
    freeEntry(*s);
}

namespace {

// The clash part of resolvePcTarget, for a name that may be taken.
int resolveTakenPcName(char* name)
{
    if (settings.autoRename) {
        for (const std::string& candidate : autoRenameCandidates(name)) {
            if (candidate.size() > 255 || pcFileTaken(candidate.c_str())) continue;
            std::memcpy(name, candidate.c_str(), candidate.size() + 1);
            return targetGo;
        }
    }
    while (pcFileTaken(name)) {
        char typed[256] = {};
        const int answer = ui->askNewName(false, name, typed, sizeof typed);
        switch (answer) {
        case collisionOk:
            typed[255] = 0;
            if (acceptablePcName(typed)) std::memcpy(name, typed, std::strlen(typed) + 1);
            break;
        case collisionOverwrite:
            return targetGo;
        case collisionSkip:
            return targetSkip;
        default:
            setError(errCancelled);
            return targetCancel;
        }
    }
    return targetGo;
}

}  // namespace

int resolvePcTarget(char* name, const char* extension)
{
    makePcFileName(name, 256, extension ? extension : "", settings.allowUpper != 0);
    if (!pcFileTaken(name)) return targetGo;
    return resolveTakenPcName(name);
}

int createPcTarget(char* name, const char* extension, int& stream)
{
    stream = -1;
    makePcFileName(name, 256, extension ? extension : "", settings.allowUpper != 0);
    // A free name is taken by creating the file, with no test before.
    const PcHandle created = pcCreateNew(name);
    if (created == noPcFile && pcFileTaken(name)) {
        const int answer = resolveTakenPcName(name);
        if (answer != targetGo) return answer;
    }
    TransferFile target{};
    std::memcpy(target.name, name, std::strlen(name) + 1);
    stream = openStream(modePcWrite, target, created);
    if (stream >= 0) return targetGo;
    if (created != noPcFile) {
        pcClose(created);
        pcDelete(name);
    }
    return targetFailed;
}

int createMacTarget(const char* pcName, uint8_t fork, TransferFile& file, int& stream)
{
    stream = -1;
    char current[32];
    std::strncpy(current, pcName, 31);
    current[31] = 0;
    for (;;) {
        std::memset(file.name, 0, sizeof file.name);
        pcNameToMac(file.name, current);
        if (file.name[0] == 0) {
            setError(errMacCreate);
            return targetFailed;
        }
        stream = openTransfer(fork == resourceFork ? modeMacRsrcWrite : modeMacDataWrite, file);
        if (stream >= 0) return targetGo;
        if (lastError != errNameExists) return targetFailed;
        lastError = errNone;
        char typed[32] = {};
        const int answer = ui->askNewName(true, current, typed, sizeof typed);
        switch (answer) {
        case collisionOk:
            typed[31] = 0;
            if (typed[0]) std::memcpy(current, typed, sizeof current);
            break;
        case collisionOverwrite: {
            // Only a file gives way; a folder of that name stays.
            CatalogItem existing{};
            const int found = lookupCatalogItem(currentFolderId, file.name, existing);
            if (found < 0) return targetFailed;
            if (found == 1 && existing.kind != cdrFile) {
                setError(errNameExists);
                return targetFailed;
            }
            if (found == 1) deleteFile(file.name);
            if (lastError != errNone) return targetFailed;
            break;
        }
        case collisionSkip:
            return targetSkip;
        default:
            setError(errCancelled);
            return targetCancel;
        }
    }
}

namespace {

int sourceRead(void* context)
{
    const auto* c = static_cast<StreamByteContext*>(context);
    const int b = readTransferByte(c->stream);
    return lastError != errNone ? -1 : b;
}

uint32_t sourceReadRun(void* context, uint8_t* buffer, uint32_t max)
{
    return readTransferRun(static_cast<StreamByteContext*>(context)->stream, buffer, max);
}

void sinkWrite(void* context, uint8_t byte) { writeTransferByte(static_cast<StreamByteContext*>(context)->stream, byte); }

void sinkWriteRun(void* context, const uint8_t* bytes, uint32_t length)
{
    writeTransferRun(static_cast<StreamByteContext*>(context)->stream, bytes, length);
}

void streamNextFork(void* context)
{
    const auto* c = static_cast<StreamByteContext*>(context);
    static const TransferFile none{};
    switchFork(c->stream, c->file ? *c->file : none);
}

}  // namespace

MacFileInfo macFileInfoOf(const TransferFile& file)
{
    MacFileInfo info;
    const uint8_t length = std::min<uint8_t>(file.name[0], 31);
    info.name[0] = length;
    std::memcpy(info.name.data() + 1, file.name + 1, length);
    std::memcpy(info.finderInfo.data(), file.finderInfo, 16);
    info.dataLength = file.dataLength;
    info.resourceLength = file.rsrcLength;
    info.created = file.createDate;
    info.modified = file.modifyDate;
    return info;
}

TransferFile transferFileOf(const MacFileInfo& info)
{
    TransferFile file{};
    const uint8_t length = std::min<uint8_t>(info.name[0], 31);
    file.name[0] = length;
    std::memcpy(file.name + 1, info.name.data() + 1, length);
    std::memcpy(file.finderInfo, info.finderInfo.data(), 16);
    file.dataLength = info.dataLength;
    file.rsrcLength = info.resourceLength;
    file.createDate = info.created;
    file.modifyDate = info.modified;
    return file;
}

ByteSource streamSource(StreamByteContext& context)
{
    return ByteSource{sourceRead, streamNextFork, &context, sourceReadRun};
}

ByteSink streamSink(StreamByteContext& context) { return ByteSink{sinkWrite, streamNextFork, &context, sinkWriteRun}; }

}  // namespace verrin
