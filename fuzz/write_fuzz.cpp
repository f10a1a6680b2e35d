// Fuzz target for the write side: a mutated disk image, held in memory and
// writable, gets a short sequence of changes chosen by a seed from the
// input's first bytes (folders and files created with data, files and empty
// folders deleted, items renamed and retyped, flushes and reverts). Any
// crash, hang, leak or sanitizer report is a fault; so is a volume that
// passed the checker before the changes and does not pass it after them
// (read back from the medium). A volume the checker finds damaged is
// changed through the checks before the first change, forced half the time.
// Calls the engine, its checker and the drive table only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "base/errors.h"
#include "hfs/check.h"
#include "hfs/drive.h"
#include "hfs/hfs.h"

using namespace verrin;

namespace {

std::vector<uint8_t> medium;

int32_t memRead(DriveEntry&, uint8_t* buffer, uint32_t count, uint32_t address)
{
    const uint64_t offset = uint64_t{address} * 512;
    const uint64_t bytes = uint64_t{count} * 512;
    if (offset + bytes > medium.size()) {
        setError(errMacRead);
        return 0;
    }
    std::memcpy(buffer, medium.data() + offset, bytes);
    return static_cast<int32_t>(count);
}

int32_t memWrite(DriveEntry&, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    const uint64_t offset = uint64_t{address} * 512;
    const uint64_t bytes = uint64_t{count} * 512;
    if (offset + bytes > medium.size()) {
        setError(errMacWrite);
        return 0;
    }
    std::memcpy(medium.data() + offset, buffer, bytes);
    return static_cast<int32_t>(count);
}

uint32_t memSectorSize(DriveEntry&, uint64_t* capacity)
{
    if (capacity) *capacity = medium.size() / 512;
    return 512;
}

// Makes the memory medium the current drive; false when it holds no volume.
bool selectMedium()
{
    clearDrives();
    DriveEntry entry{};
    entry.kind = DriveKind::imageFile;
    entry.sectorRatio = 1;
    entry.read = memRead;
    entry.write = memWrite;
    entry.querySectorSize = memSectorSize;
    std::strcpy(entry.label, "fuzz");
    selectDrive(addDrive(entry));
    const bool found = lastError == errNone && volumeCount > 0;
    lastError = errNone;
    return found;
}

bool mountFirst()
{
    setVolumePosition(volumeList[0]);
    mountVolume();
    return lastError == errNone;
}

bool sound()
{
    return countFindings(checkVolume(), CheckSeverity::damage) == 0;
}

void randomName(std::mt19937& rng, uint8_t name[32])
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzAZ09 .\x8a\xe7";
    std::memset(name, 0, 32);
    name[0] = static_cast<uint8_t>(1 + rng() % 12);
    for (int i = 1; i <= name[0]; ++i) name[i] = static_cast<uint8_t>(letters[rng() % (sizeof letters - 1)]);
}

// An item of a folder, chosen at random; false when the folder is empty or
// cannot be listed.
bool pickItem(std::mt19937& rng, uint32_t folder, CatalogItem& item)
{
    std::vector<CatalogItem> items;
    if (!listFolder(folder, items) || items.empty()) return false;
    item = items[rng() % items.size()];
    return true;
}

void writeFork(std::mt19937& rng, const FileRef& ref, uint8_t fork, uint32_t bytes)
{
    std::vector<uint8_t> data(bytes);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    WriteRequest request{fork, ref, 0, data.data(), 0};
    for (uint32_t at = 0; at < bytes && lastError == errNone; at += 32768) {
        request.data = data.data() + at;
        request.length = std::min<uint32_t>(32768, bytes - at);
        appendToFork(request);
    }
}

// One change in the folder `folder` (made current first); folders seen are
// added to `folders` so later changes can go into them.
void change(std::mt19937& rng, std::vector<uint32_t>& folders)
{
    const uint32_t folder = folders[rng() % folders.size()];
    if (!enterFolder(folder)) return;
    uint8_t name[32];
    CatalogItem item;
    switch (rng() % 9) {
    case 0:
        randomName(rng, name);
        createFolder(name);
        if (lastError == errNone && lookupCatalogItem(folder, name, item) == 1) folders.push_back(item.id);
        break;
    case 1:
    case 2: {
        FileInfo info{};
        randomName(rng, info.name);
        std::memcpy(info.finderInfo, "TEXTttxt", 8);
        createFile(info);
        if (lastError != errNone) break;
        FileRef ref = openFileRef(folder, info.name);
        if (lastError != errNone) break;
        pinBuffer(ref.buffer);
        writeFork(rng, ref, dataFork, rng() % 40000);
        writeFork(rng, ref, resourceFork, rng() % 3 == 0 ? rng() % 5000 : 0);
        unpinBuffer(ref.buffer);
        break;
    }
    case 3:
    case 4:
        if (!pickItem(rng, folder, item)) break;
        if (item.kind == cdrFile) deleteFile(item.name);
        else deleteFolder(item.name);
        break;
    case 5:
        if (!pickItem(rng, folder, item)) break;
        randomName(rng, name);
        renameItem(item.name, name);
        break;
    case 6:
        if (pickItem(rng, folder, item) && item.kind == cdrFile)
            setTypeCreator(item.name, reinterpret_cast<const uint8_t*>("ABCD"), reinterpret_cast<const uint8_t*>("EFGH"));
        break;
    case 7:
        flushVolume();
        break;
    default:
        revertVolume();
        break;
    }
    // A failed change is reverted, as every front end does.
    if (lastError != errNone) {
        lastError = errNone;
        revertVolume();
        lastError = errNone;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4 + 1024 || size > (4u << 20) + 4) return 0;
    const uint32_t seed = static_cast<uint32_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3];
    medium.assign(data + 4, data + size);
    medium.resize((medium.size() + 511) / 512 * 512, 0);
    lastError = errNone;
    std::mt19937 rng(seed);

    if (selectMedium() && mountFirst()) {
        const bool soundBefore = sound();
        const bool forced = !soundBefore && (seed & 1);
        if (guardChanges(forced ? DamagedVolumeAnswer::force : DamagedVolumeAnswer::refuse).writable) {
            std::vector<uint32_t> folders = {2};
            const int changes = 1 + static_cast<int>(rng() % 10);
            for (int i = 0; i < changes; ++i) change(rng, folders);
            flushVolume();
            lastError = errNone;
            // What the medium now holds must still check sound.
            closeVolume();
            if (soundBefore && !(selectMedium() && mountFirst() && sound())) std::abort();
        }
    }
    lastError = errNone;
    closeVolume();
    clearDrives();
    medium.clear();
    return 0;
}
