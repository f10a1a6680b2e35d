// The Mac-to-PC writers: data fork, text (CR becomes CR LF), resource fork,
// MacBinary and BinHex. Each opens the Mac file, chooses and resolves the
// PC name, creates the PC file and streams the bytes through the transfer
// streams; the PC file is removed again when the copy fails or is cancelled.
// Calls the transfer streams, the codecs, the name mapping, the type map,
// the settings, the translation table and the PC file seam.
#include <algorithm>
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

void copyText(int from, int to)
{
    for (;;) {
        const int b = readTransferByte(from);
        if (lastError != errNone || b < 0) return;
        writeTransferByte(to, static_cast<uint8_t>(b));
        if (b == 0x0D) writeTransferByte(to, 0x0A);
        if (lastError != errNone) return;
    }
}

// MacBinary and BinHex: the codec reads the data fork, switches the source
// to the resource fork and reads that.
void writeCodedFile(TranslationMode mode, int source, int target, const TransferFile& file)
{
    StreamByteContext from{source, &file};
    StreamByteContext to{target, nullptr};
    if (mode == MacBinary)
        writeMacBinary(macFileInfoOf(file), streamSource(from), streamSink(to));
    else
        writeBinHex(macFileInfoOf(file), streamSource(from), streamSink(to));
}

// The steps every writer shares; `mode` selects the body.
void copyMacToPc(TranslationMode mode, const uint8_t* macName, uint32_t folderId)
{
    TransferFile source{};
    std::memcpy(source.name, macName, static_cast<size_t>(std::min<uint8_t>(macName[0], 31)) + 1);
    source.name[0] = std::min<uint8_t>(macName[0], 31);
    source.folderId = folderId;
    const int from = openTransfer(mode == ResourceFile ? modeMacRsrcRead : modeMacDataRead, source);
    if (from < 0) return;

    char pcName[256] = {};
    macNameToPc(pcName, source.name, true);

    std::string extension = translationTable[mode].macToPc.extension;
    if (mode == DataFile && settings.macUseMap)
        extension = lookupMacTypeMap(settings.ftmPath, source.finderInfo + finder::type,
                                     source.finderInfo + finder::creator, extension);

    int to = -1;
    if (createPcTarget(pcName, extension.c_str(), to) == targetGo) {
        switch (mode) {
        case DataFile:
            copyTransferBytes(from, to, source.dataLength);
            break;
        case TextFile:
            copyText(from, to);
            break;
        case ResourceFile:
            copyTransferBytes(from, to, source.rsrcLength);
            break;
        case MacBinary:
        case BinHex:
            writeCodedFile(mode, from, to, source);
            break;
        }
    }
    closeTransfer(to);
    if (to >= 0 && mode == DataFile && lastError == errNone && settings.keepDate && source.modifyDate != 0)
        pcSetModTime(pcName, macDateToUnix(source.modifyDate));
    closeTransfer(from);
}

}  // namespace

void dataFileToPc(const uint8_t* macName, uint32_t folderId) { copyMacToPc(DataFile, macName, folderId); }
void textFileToPc(const uint8_t* macName, uint32_t folderId) { copyMacToPc(TextFile, macName, folderId); }
void resourceFileToPc(const uint8_t* macName, uint32_t folderId) { copyMacToPc(ResourceFile, macName, folderId); }
void macBinaryToPc(const uint8_t* macName, uint32_t folderId) { copyMacToPc(MacBinary, macName, folderId); }
void binHexToPc(const uint8_t* macName, uint32_t folderId) { copyMacToPc(BinHex, macName, folderId); }

}  // namespace verrin
