// Fuzz target: a mutated disk image, held in memory, goes through the whole
// read path: block-ratio probe, volume scan, mount, a walk of every folder
// and a read of every fork. Any crash, hang, leak or sanitizer report is a
// fault; errors set in lastError are the expected outcome for bad images.
// Calls the engine and the drive table only.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/errors.h"
#include "hfs/drive.h"
#include "hfs/hfs.h"

using namespace verrin;

namespace {

const uint8_t* imageData = nullptr;
size_t imageSize = 0;

// Reads past the end return zeros, like a medium that is larger than the
// sample; the capacity reported is the sample's.
int32_t memRead(DriveEntry&, uint8_t* buffer, uint32_t count, uint32_t address)
{
    const uint64_t offset = uint64_t(address) * 512;
    const uint64_t bytes = uint64_t(count) * 512;
    std::memset(buffer, 0, bytes);
    if (offset < imageSize) {
        const uint64_t n = std::min<uint64_t>(bytes, imageSize - offset);
        std::memcpy(buffer, imageData + offset, n);
    }
    return static_cast<int32_t>(count);
}

uint32_t memSectorSize(DriveEntry&, uint64_t* capacity)
{
    if (capacity) *capacity = (imageSize + 511) / 512;
    return 512;
}

void walk(uint32_t folderId, int depth, size_t& budget)
{
    if (depth > 64 || budget == 0) return;
    std::vector<CatalogItem> items;
    if (!listFolder(folderId, items)) return;
    std::vector<uint8_t> buffer(512 * 16);
    for (const CatalogItem& item : items) {
        if (budget == 0 || lastError != errNone) return;
        --budget;
        if (item.kind == cdrFolder) {
            walk(item.id, depth + 1, budget);
            continue;
        }
        FileRef ref = openFileRef(folderId, item.name);
        if (lastError != errNone) {
            lastError = errNone;
            continue;
        }
        for (uint8_t fork : {uint8_t(0x00), uint8_t(0xFF)}) {
            const uint32_t sectors = (forkLogicalLength(ref, fork) + 511) / 512;
            for (uint32_t s = 0; s < sectors && s < 256; s += 16) {
                readFork(buffer.data(), s, std::min<uint32_t>(16, sectors - s), fork, ref);
                if (lastError != errNone) break;
            }
            lastError = errNone;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1024 || size > (8u << 20)) return 0;
    imageData = data;
    imageSize = size;
    lastError = errNone;
    clearDrives();
    DriveEntry entry{};
    entry.kind = DriveKind::imageFile;
    entry.sectorRatio = 1;
    entry.read = memRead;
    entry.querySectorSize = memSectorSize;
    std::strcpy(entry.label, "fuzz");
    const int index = addDrive(entry);
    selectDrive(index);
    for (int v = 0; v < volumeCount && v < 4; ++v) {
        lastError = errNone;
        setVolumePosition(volumeList[v]);
        mountVolume();
        if (lastError == errNone) {
            size_t budget = 4000;
            walk(2, 0, budget);
        }
        closeVolume();
    }
    lastError = errNone;
    emptyCache();
    clearDrives();
    return 0;
}
