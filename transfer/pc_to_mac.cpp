// The PC-to-Mac readers: data fork, text (CR LF and a lone LF become CR,
// Ctrl-Z is dropped), resource fork, MacBinary and BinHex. Each opens the
// PC file, creates the Mac file in the current Mac folder (resolving a name
// clash through the "Mac Name Already Exists" dialog) and streams the bytes
// into its forks.
// A MacBinary or BinHex file that ends before its forks do, or a BinHex
// file whose checksums do not match, is an error: the file made so far is
// then dropped by the caller's revertVolume, so a damaged file never leaves
// a plausible-looking but wrong Mac file behind.
// Calls the transfer streams, the codecs, the name mapping, the type map,
// the settings, the translation table and the PC file seam.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/format.h"
#include "base/settings.h"
#include "hfs/hfs.h"
#include "hfs/layout.h"
#include "transfer/binhex.h"
#include "transfer/macbinary.h"
#include "transfer/names.h"
#include "transfer/pcfile.h"
#include "transfer/streams.h"
#include "transfer/translation_table.h"
#include "transfer/translations.h"
#include "transfer/typemap.h"

namespace verrin {

namespace {

// The HFS date of the last-write time of the PC file a stream reads, or 0
// when it is not known or lies outside the range of HFS dates.
uint32_t pcFileDate(int stream)
{
    const PcFileFacts& facts = transferStreams[stream].pcFacts;
    if (!facts.known || facts.modified == 0) return 0;
    const uint32_t date = unixToMacDate(facts.modified);
    return date == 0 || date == UINT32_MAX ? 0 : date;
}

// Copies the rest of the PC text into the Mac stream with Mac line ends:
// CR LF and a lone LF (Unix text) both become CR, a CR stays; Ctrl-Z is
// dropped.
void copyText(int from, int to)
{
    bool afterCr = false;
    for (;;) {
        const int b = readTransferByte(from);
        if (lastError != errNone || b < 0) return;
        if (b == 0x1A) continue;
        const bool lineFeed = b == 0x0A;
        if (lineFeed && afterCr) {
            afterCr = false;
            continue;
        }
        afterCr = b == 0x0D;
        writeTransferByte(to, lineFeed ? uint8_t{0x0D} : static_cast<uint8_t>(b));
        if (lastError != errNone) return;
    }
}


// Creates the Mac file from a descriptor that already carries a Mac name
// (MacBinary and BinHex); a clash goes to createMacTarget with the name in
// PC form. targetGo with `to` open, or another TargetAnswer.
int createNamedTarget(TransferFile& file, int& to)
{
    to = openTransfer(modeMacDataWrite, file);
    if (to >= 0) return targetGo;
    if (lastError != errNameExists) return targetFailed;
    lastError = errNone;
    char pcName[256] = {};
    macNameToPc(pcName, file.name, true);
    return createMacTarget(pcName, dataFork, file, to);
}

void copyPlain(TranslationMode mode, const char* pcName, uint32_t folderId)
{
    TransferFile source{};
    std::strncpy(reinterpret_cast<char*>(source.name), pcName, 255);
    const int from = openTransfer(modePcRead, source);
    if (from < 0) return;

    TransferFile target{};
    target.folderId = folderId;
    if (mode == DataFile && settings.keepDate) {
        target.createDate = pcFileDate(from);
        target.modifyDate = target.createDate;
    }
    const PcToMacTranslation& codes = translationTable[mode].pcToMac;
    bool mapped = false;
    if (mode == DataFile && settings.pcUseMap)
        mapped = lookupPcTypeMap(settings.ftmPath, pcName, codes.type, codes.creator, target.finderInfo);
    if (!mapped) {
        pcTextToMacBytes(target.finderInfo, codes.type, 4);
        pcTextToMacBytes(target.finderInfo + finder::creator, codes.creator, 4);
    }

    int to = -1;
    if (createMacTarget(pcName, mode == ResourceFile ? resourceFork : dataFork, target, to) == targetGo)
    {
        if (mode == TextFile)
            copyText(from, to);
        else
            copyTransferBytes(from, to, UINT32_MAX);
    }
    closeTransfer(to);
    closeTransfer(from);
}

void copyMacBinary(const char* pcName, uint32_t folderId)
{
    TransferFile source{};
    std::strncpy(reinterpret_cast<char*>(source.name), pcName, 255);
    const int from = openTransfer(modePcRead, source);
    if (from < 0) return;

    const PcFileFacts& facts = transferStreams[from].pcFacts;
    const uint64_t fileSize = facts.known ? facts.size : macBinaryUnknownSize;
    StreamByteContext input{from, nullptr};
    MacBinaryHeader header;
    int to = -1;
    if (readMacBinaryHeader(streamSource(input), fileSize, header) && lastError == errNone) {
        TransferFile target = transferFileOf(header.info);
        target.folderId = folderId;
        if (createNamedTarget(target, to) == targetGo) {
            StreamByteContext output{to, &target};
            readMacBinaryForks(streamSource(input), header, streamSink(output));
        }
    }
    closeTransfer(to);
    closeTransfer(from);
}

// The Mac name for a BinHex file whose header names none: the PC file name
// without its ".hqx".
void nameFromPcFile(const char* pcName, MacFileInfo& info)
{
    std::string base = pcName;
    const size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    if (base.size() > 4) {
        std::string tail = base.substr(base.size() - 4);
        for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (tail == ".hqx") base.resize(base.size() - 4);
    }
    uint8_t name[32] = {};
    pcNameToMac(name, base.c_str());
    std::memcpy(info.name.data(), name, 32);
}

void copyBinHex(const char* pcName, uint32_t folderId)
{
    TransferFile source{};
    std::strncpy(reinterpret_cast<char*>(source.name), pcName, 255);
    const int from = openTransfer(modePcRead, source);
    if (from < 0) return;

    StreamByteContext input{from, nullptr};
    BinHexReader reader{};
    MacFileInfo info;
    readBinHexHeader(reader, streamSource(input), info, maxForkLength);
    if (lastError == errNone && info.name[0] == 0) nameFromPcFile(pcName, info);
    if (lastError == errNone && info.name[0] == 0) setError(errWrongFileType);

    int to = -1;
    if (lastError == errNone) {
        TransferFile target = transferFileOf(info);
        target.folderId = folderId;
        target.createDate = 0;
        target.modifyDate = 0;
        if (createNamedTarget(target, to) == targetGo) {
            StreamByteContext output{to, &target};
            readBinHexForks(reader, info, streamSink(output));
        }
    }
    closeTransfer(to);
    closeTransfer(from);
}

}  // namespace

void dataFileToMac(const char* pcName, uint32_t folderId) { copyPlain(DataFile, pcName, folderId); }
void textFileToMac(const char* pcName, uint32_t folderId) { copyPlain(TextFile, pcName, folderId); }
void resourceFileToMac(const char* pcName, uint32_t folderId) { copyPlain(ResourceFile, pcName, folderId); }
void macBinaryToMac(const char* pcName, uint32_t folderId) { copyMacBinary(pcName, folderId); }
void binHexToMac(const char* pcName, uint32_t folderId) { copyBinHex(pcName, folderId); }

void installTranslations()
{
    installTranslationRoutines(DataFile, dataFileToPc, dataFileToMac);
    installTranslationRoutines(TextFile, textFileToPc, textFileToMac);
    installTranslationRoutines(ResourceFile, resourceFileToPc, resourceFileToMac);
    installTranslationRoutines(MacBinary, macBinaryToPc, macBinaryToMac);
    installTranslationRoutines(BinHex, binHexToPc, binHexToMac);
}

}  // namespace verrin
