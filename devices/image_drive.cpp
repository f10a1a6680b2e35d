// Disk-image drives: a file read and written at 512-byte unit offsets,
// each transfer one positioned read or write straight between the file and
// the caller's buffer.
//
// Owns the table of open image files (one slot per image drive, named by the
// drive entry's `unit`). A slot is a window on its file: the whole file for
// a raw image, the data area after the header for a DiskCopy 4.2 image,
// which is recognised here by its header. Device sectors larger than 512
// bytes go through the conversion rules of the drive contract, so an image
// of a 2048-byte-sector medium behaves like the real drive would. Image
// drives are formatted as partitioned media; an image of exactly one 1.44 MB
// diskette may be switched to the diskette formatter. The drive's identity
// is the image's absolute path (its journal sits beside it); its sync puts
// the file's data on stable storage; its stamp is the file's, sealed by
// setting the file's modification time (base/rawfile.h). Calls the
// drive table, plain files, the DiskCopy header code, the formatters, the
// journal's naming and the error word.
#include "devices/image_drive.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/errors.h"
#include "base/rawfile.h"
#include "devices/dc42_drive.h"
#include "devices/image_internal.h"
#include "hfs/drive.h"
#include "hfs/format.h"
#include "hfs/journal.h"

namespace verrin {

namespace {

struct ImageSlot {
    RawFile file = noRawFile;
    std::string path;
    std::string fullPath;     // absolute: the process's folder may change
    uint64_t bytes = 0;       // length of the medium inside the file
    uint64_t dataOffset = 0;  // where the medium starts in the file
    uint64_t fileBytes = 0;   // length of the whole file
    uint32_t sectorSize = 512;
};

ImageSlot imageSlots[maxDrives];
std::string openProblem;

ImageSlot* slotOf(const DriveEntry& entry)
{
    if (entry.unit < 0 || entry.unit >= maxDrives) return nullptr;
    ImageSlot* s = &imageSlots[entry.unit];
    return s->file != noRawFile ? s : nullptr;
}

// Whole device sectors; a sector that extends past the end of the file is
// padded with zeros (an image need not be a multiple of the sector size), a
// sector wholly past the end is a failure.
int32_t readDeviceSectors(DriveEntry& entry, uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    ImageSlot* s = slotOf(entry);
    if (!s || sectors == 0) return 0;
    const uint64_t offset = deviceSector * s->sectorSize;
    if (offset >= s->bytes) return 0;
    uint64_t want = static_cast<uint64_t>(sectors) * s->sectorSize;
    const uint64_t avail = s->bytes - offset;
    uint32_t whole = sectors;
    if (want > avail) {
        whole = static_cast<uint32_t>((avail + s->sectorSize - 1) / s->sectorSize);
        want = avail;
    }
    // want is at most the transfer the caller sized its buffer for.
    if (readRawAt(s->file, buffer, static_cast<size_t>(want), s->dataOffset + offset) != static_cast<int64_t>(want))
        return 0;
    const uint64_t filled = static_cast<uint64_t>(whole) * s->sectorSize;
    if (filled > want) std::memset(buffer + want, 0, static_cast<size_t>(filled - want));
    return static_cast<int32_t>(whole);
}

int32_t writeDeviceSectors(DriveEntry& entry, const uint8_t* buffer, uint32_t sectors, uint64_t deviceSector)
{
    ImageSlot* s = slotOf(entry);
    if (!s || sectors == 0) return 0;
    const uint64_t offset = deviceSector * s->sectorSize;
    // Writes stay inside the image: the medium does not grow.
    if (offset >= s->bytes) return 0;
    uint64_t want = static_cast<uint64_t>(sectors) * s->sectorSize;
    uint32_t whole = sectors;
    if (want > s->bytes - offset) {
        whole = static_cast<uint32_t>((s->bytes - offset) / s->sectorSize);
        if (whole == 0) return 0;
        want = static_cast<uint64_t>(whole) * s->sectorSize;
    }
    if (!writeRawAt(s->file, buffer, static_cast<size_t>(want), s->dataOffset + offset)) return 0;
    return static_cast<int32_t>(whole);
}

int32_t imageRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    ImageSlot* s = slotOf(entry);
    if (!s) {
        setError(errMacRead);
        return 0;
    }
    if (entry.sectorRatio > 1) return convertedRead(entry, readDeviceSectors, buffer, count, address);
    const int32_t got = readDeviceSectors(entry, buffer, count, address);
    if (got < 1) {
        setError(errMacRead);
        return 0;
    }
    return got;
}

int32_t imageWrite(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    ImageSlot* s = slotOf(entry);
    if (!s) {
        setError(errMacWrite);
        return 0;
    }
    if (entry.sectorRatio > 1)
        return convertedWrite(entry, readDeviceSectors, writeDeviceSectors, buffer, count, address);
    const int32_t put = writeDeviceSectors(entry, buffer, count, address);
    if (put < 1) {
        setError(errMacWrite);
        return 0;
    }
    return put;
}

uint32_t imageSectorSize(DriveEntry& entry, uint64_t* capacity)
{
    ImageSlot* s = slotOf(entry);
    if (!s) return 0;
    if (capacity) *capacity = s->bytes / s->sectorSize;
    return s->sectorSize;
}

bool syncImage(DriveEntry& entry)
{
    ImageSlot* s = slotOf(entry);
    if (!s || !syncRawFile(s->file)) {
        setError(errMacWrite);
        return false;
    }
    return true;
}

bool imageIdentity(DriveEntry& entry, char* text, size_t capacity)
{
    ImageSlot* s = slotOf(entry);
    if (!s || s->fullPath.size() >= capacity) return false;
    std::memcpy(text, s->fullPath.c_str(), s->fullPath.size() + 1);
    return true;
}

bool imageStamp(DriveEntry& entry, FileStamp& stamp)
{
    const ImageSlot* s = slotOf(entry);
    return s && rawFileStamp(s->file, stamp);
}

bool imageSeal(DriveEntry& entry, FileStamp& stamp)
{
    const ImageSlot* s = slotOf(entry);
    return s && sealRawFileStamp(s->file, stamp);
}

}  // namespace

RawFile imageFileOf(const DriveEntry& entry, uint64_t& dataOffset, uint64_t& dataBytes)
{
    const ImageSlot* s = slotOf(entry);
    if (!s) return noRawFile;
    dataOffset = s->dataOffset;
    dataBytes = s->bytes;
    return s->file;
}

int openImageDrive(const char* path, bool writable, uint32_t sectorSize)
{
    openProblem.clear();
    if (sectorSize < 512 || sectorSize > 4096 || sectorSize % 512 != 0) sectorSize = 512;
    int slot = -1;
    for (int i = 0; i < maxDrives; ++i)
        if (imageSlots[i].file == noRawFile) {
            slot = i;
            break;
        }
    if (slot < 0 || driveCount >= maxDrives) {
        setError(errNoMemory);
        return -1;
    }
    // An image opened for reading that has an interrupted change pending
    // is opened for writing too where the file allows, so that opening the
    // drive can undo the change; the engine's own writes stay refused.
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).string();
    const std::string fullPath = ec ? std::string(path) : absolute;
    const bool undoOnly = !writable && rawFileExists(journalPathBeside(fullPath).c_str());
    RawFile f = openRawFile(path, writable || undoOnly ? RawOpen::update : RawOpen::read);
    const bool canWrite = f != noRawFile && (writable || undoOnly);
    if (f == noRawFile && undoOnly) f = openRawFile(path, RawOpen::read);
    if (f == noRawFile) {
        setError(errPcOpen);
        return -1;
    }
    const uint64_t fileBytes = rawFileLength(f);

    // A DiskCopy 4.2 image is recognised by its header; one that claims to
    // be such an image but whose sizes disagree with the file is refused
    // rather than read (or written) as a raw image.
    uint8_t header[diskCopyHeaderSize] = {};
    DiskCopyHeader dc{};
    bool diskCopy = false;
    if (fileBytes >= diskCopyHeaderSize && readRawAt(f, header, sizeof header, 0) == sizeof header &&
        looksLikeDiskCopyHeader(header)) {
        const char* problem = parseDiskCopyHeader(header, fileBytes, dc);
        if (problem) {
            openProblem = problem;
            closeRawFile(f);
            setError(errPcRead);
            return -1;
        }
        diskCopy = true;
        sectorSize = 512;
    }

    ImageSlot& s = imageSlots[slot];
    s.file = f;
    s.path = path;
    s.fullPath = fullPath;
    s.fileBytes = fileBytes;
    s.dataOffset = diskCopy ? diskCopyHeaderSize : 0;
    s.bytes = diskCopy ? dc.dataSize : fileBytes;
    s.sectorSize = sectorSize;

    DriveEntry e{};
    e.kind = diskCopy ? DriveKind::diskCopyImage : DriveKind::imageFile;
    e.unit = slot;
    e.flags = static_cast<uint8_t>(driveFileBacked | (canWrite && !writable ? driveWriteHeld : 0));
    e.sectorRatio = static_cast<uint16_t>(sectorSize / 512);
    e.read = imageRead;
    e.write = canWrite ? imageWrite : nullptr;
    e.format = formatPartitionedMedium;
    e.querySectorSize = imageSectorSize;
    e.sync = !canWrite ? nullptr : diskCopy ? syncDiskCopyImage : syncImage;
    e.identity = imageIdentity;
    e.stamp = imageStamp;
    e.seal = canWrite ? imageSeal : nullptr;
    std::snprintf(e.label, sizeof e.label, diskCopy ? "[DC42 %d]" : "[IMAGE %d]", slot);
    const int index = addDrive(e);
    if (index < 0) {
        closeRawFile(f);
        s = ImageSlot{};
    }
    return index;
}

const char* imageOpenProblem() { return openProblem.c_str(); }

bool useDisketteFormatter(int driveIndex)
{
    if (driveIndex < 0 || driveIndex >= driveCount) return false;
    DriveEntry& e = driveTable[driveIndex];
    if (e.kind != DriveKind::imageFile && e.kind != DriveKind::diskCopyImage) return false;
    const ImageSlot* s = slotOf(e);
    if (!s || s->sectorSize != 512 || s->bytes != uint64_t{disketteSectors} * 512) return false;
    e.format = formatDiskette;
    return true;
}

void closeImageDrives()
{
    for (ImageSlot& s : imageSlots) {
        closeRawFile(s.file);
        s = ImageSlot{};
    }
}

uint64_t imageDriveBytes(int driveIndex)
{
    if (driveIndex < 0 || driveIndex >= driveCount) return 0;
    const DriveEntry& e = driveTable[driveIndex];
    if (e.kind != DriveKind::imageFile && e.kind != DriveKind::diskCopyImage) return 0;
    const ImageSlot* s = slotOf(e);
    return s ? s->bytes : 0;
}

const char* imageDrivePath(int driveIndex)
{
    if (driveIndex < 0 || driveIndex >= driveCount) return "";
    const DriveEntry& e = driveTable[driveIndex];
    if (e.kind != DriveKind::imageFile && e.kind != DriveKind::diskCopyImage) return "";
    const ImageSlot* s = slotOf(e);
    return s ? s->path.c_str() : "";
}

}  // namespace verrin
