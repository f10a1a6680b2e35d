// The diskette formatter: writes a fixed image of a freshly initialised
// 1.44 MB HFS volume over the first 49 sectors and the alternate MDB of a
// diskette that already carries a low-level format. The volume holds the
// root folder with one invisible file, "Desktop", whose resource fork is an
// empty resource file. The seven structured sectors are kept as run-length
// packed templates and patched with the new name and the current date; the
// root folder's record is rebuilt for the new name's length.
//
// Calls the drive's `write`, the helpers shared with the partitioned
// formatter (progress, pumped unit writes, the volume name, the error box),
// the engine's catalog key and node record helpers and the on-disk layout.
#include <algorithm>
#include <cstring>
#include <string>

#include "base/ui.h"
#include "hfs/format.h"
#include "hfs/format_internal.h"
#include "hfs/internal.h"

namespace verrin {

namespace {

// Sectors 2, 3, 4, 26, 27, 48 and 2878 of the image, named "Untitled" and
// dated 0, packed with PackBits.
constexpr uint8_t templateSector2[] = {
    0x01, 0x42, 0x44, 0xF9, 0x00, 0x0C, 0x01, 0x00, 0x00, 0x01, 0x00, 0x03, 0x00, 0x2C, 0x0B, 0x3A,
    0x00, 0x00, 0x02, 0xFE, 0x00, 0x03, 0x08, 0x00, 0x00, 0x04, 0xFE, 0x00, 0x0B, 0x11, 0x0B, 0x0D,
    0x08, 0x55, 0x6E, 0x74, 0x69, 0x74, 0x6C, 0x65, 0x64, 0xE8, 0x00, 0x06, 0xC0, 0x44, 0x80, 0x96,
    0x00, 0x00, 0x2C, 0xFE, 0x00, 0x00, 0x2C, 0xFB, 0x00, 0x00, 0x01, 0xD5, 0x00, 0x00, 0x2C, 0xFD,
    0x00, 0x00, 0x16, 0xF7, 0x00, 0x05, 0x2C, 0x00, 0x00, 0x16, 0x00, 0x16, 0x81, 0x00, 0x81, 0x00,
    0x9B, 0x00,
};
constexpr uint8_t templateSector3[] = {
    0xFC, 0xFF, 0x00, 0xF8, 0x81, 0x00, 0x81, 0x00, 0x81, 0x00, 0x87, 0x00,
};
constexpr uint8_t templateSector4[] = {
    0xF9, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0xED, 0x00, 0x03, 0x02, 0x00, 0x00, 0x07, 0xFE, 0x00,
    0x00, 0x16, 0xFE, 0x00, 0x00, 0x15, 0x81, 0x00, 0xB5, 0x00, 0x00, 0x80, 0x81, 0x00, 0x82, 0x00,
    0x07, 0x01, 0xF8, 0x00, 0xF8, 0x00, 0x78, 0x00, 0x0E,
};
constexpr uint8_t templateSector26[] = {
    0xF9, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0xFE, 0x00, 0x00, 0x01, 0xFE, 0x00, 0x00, 0x01, 0xFE,
    0x00, 0x00, 0x03, 0xFE, 0x00, 0x00, 0x01, 0xFE, 0x00, 0x04, 0x01, 0x02, 0x00, 0x00, 0x25, 0xFE,
    0x00, 0x00, 0x16, 0xFE, 0x00, 0x00, 0x14, 0x81, 0x00, 0xB5, 0x00, 0x00, 0xC0, 0x81, 0x00, 0x82,
    0x00, 0x07, 0x01, 0xF8, 0x00, 0xF8, 0x00, 0x78, 0x00, 0x0E,
};
constexpr uint8_t templateSector27[] = {
    0xF9, 0x00, 0x06, 0xFF, 0x01, 0x00, 0x03, 0x00, 0x00, 0x0E, 0xFD, 0x00, 0x0B, 0x01, 0x08, 0x55,
    0x6E, 0x74, 0x69, 0x74, 0x6C, 0x65, 0x64, 0x00, 0x01, 0xFD, 0x00, 0x00, 0x01, 0xFE, 0x00, 0x00,
    0x02, 0xC5, 0x00, 0x00, 0x07, 0xFD, 0x00, 0x03, 0x02, 0x00, 0x00, 0x03, 0xF5, 0x00, 0x09, 0x01,
    0x08, 0x55, 0x6E, 0x74, 0x69, 0x74, 0x6C, 0x65, 0x64, 0xEA, 0x00, 0x00, 0x0D, 0xFD, 0x00, 0x09,
    0x02, 0x07, 0x44, 0x65, 0x73, 0x6B, 0x74, 0x6F, 0x70, 0x02, 0xFE, 0x00, 0x08, 0x46, 0x4E, 0x44,
    0x52, 0x45, 0x52, 0x49, 0x4B, 0x40, 0xF7, 0x00, 0x00, 0x10, 0xF3, 0x00, 0x04, 0x01, 0x1E, 0x00,
    0x00, 0x02, 0xD5, 0x00, 0x02, 0x2C, 0x00, 0x01, 0x81, 0x00, 0x8B, 0x00, 0x07, 0x01, 0x0E, 0x00,
    0x9A, 0x00, 0x64, 0x00, 0x0E,
};
constexpr uint8_t templateSector48[] = {
    0x02, 0x00, 0x00, 0x01, 0xFE, 0x00, 0x00, 0x01, 0xF9, 0x00, 0x00, 0x1E, 0x81, 0x00, 0x8F, 0x00,
    0x00, 0x01, 0xFE, 0x00, 0x00, 0x01, 0xF9, 0x00, 0x00, 0x1E, 0xF8, 0x00, 0x04, 0x1C, 0x00, 0x1E,
    0xFF, 0xFF, 0x81, 0x00, 0x9F, 0x00,
};
constexpr uint8_t templateSector2878[] = {
    0x01, 0x42, 0x44, 0xF4, 0x00, 0x07, 0x03, 0x00, 0x00, 0x0B, 0x3A, 0x00, 0x00, 0x02, 0xFE, 0x00,
    0x03, 0x08, 0x00, 0x00, 0x04, 0xFE, 0x00, 0x0B, 0x10, 0x0B, 0x0E, 0x08, 0x55, 0x6E, 0x74, 0x69,
    0x74, 0x6C, 0x65, 0x64, 0xE5, 0x00, 0x03, 0x02, 0x00, 0x00, 0x2C, 0xFE, 0x00, 0x00, 0x2C, 0xCE,
    0x00, 0x00, 0x2C, 0xFD, 0x00, 0x00, 0x16, 0xF7, 0x00, 0x05, 0x2C, 0x00, 0x00, 0x16, 0x00, 0x16,
    0x81, 0x00, 0x81, 0x00, 0x9B, 0x00,
};

struct PackedTemplate {
    uint32_t sector;
    const uint8_t* bytes;
    uint32_t size;
};

constexpr PackedTemplate templates[] = {
    {2, templateSector2, sizeof templateSector2},       {3, templateSector3, sizeof templateSector3},
    {4, templateSector4, sizeof templateSector4},       {26, templateSector26, sizeof templateSector26},
    {27, templateSector27, sizeof templateSector27},    {48, templateSector48, sizeof templateSector48},
    {2878, templateSector2878, sizeof templateSector2878},
};
constexpr int templateCount = static_cast<int>(sizeof templates / sizeof templates[0]);

// Where a leaf record's data starts: after its key, at an even offset.
uint32_t leafDataOffset(const uint8_t* node, uint32_t index)
{
    const uint32_t key = recordOffset(node, index);
    return key + paddedKeyBytes(node[key]);
}

// Unpacks and patches the template of one sector.
bool buildTemplateSector(int index, uint32_t date, uint8_t* s)
{
    if (!unpackDisketteTemplate(index, s)) return false;
    switch (templates[index].sector) {
    case 2:
    case 2878:
        formatting::putVolumeName(s + mdb::vn, 28);
        write32(s + mdb::crDate, date);
        write32(s + mdb::lsMod, date);
        return true;
    case 27:
        return buildDisketteLeaf(date, s);
    case 48:
        write32(s + 114, date);
        return true;
    default:
        return true;
    }
}

}  // namespace

int32_t unpackBits(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize)
{
    uint32_t i = 0, o = 0;
    while (i < inSize) {
        const uint8_t c = in[i++];
        if (c < 0x80) {
            const uint32_t n = c + 1u;
            if (n > inSize - i || n > outSize - o) return -1;
            std::memcpy(out + o, in + i, n);
            i += n;
            o += n;
        } else if (c > 0x80) {
            const uint32_t n = 257u - c;
            if (i >= inSize || n > outSize - o) return -1;
            std::memset(out + o, in[i++], n);
            o += n;
        }
    }
    return static_cast<int32_t>(o);
}

bool unpackDisketteTemplate(int index, uint8_t* s)
{
    if (index < 0 || index >= templateCount) return false;
    std::memset(s, 0, 512);
    return unpackBits(templates[index].bytes, templates[index].size, s, 512) >= 0;
}

bool buildDisketteLeaf(uint32_t date, uint8_t* node)
{
    if (!unpackDisketteTemplate(4, node)) return false;
    // Records of the template: 0 the root folder, 1 its thread, 2 Desktop.
    formatting::putVolumeName(node + leafDataOffset(node, 1) + thd::cName, 32);
    const uint32_t root = leafDataOffset(node, 0);
    write32(node + root + dir::crDat, date);
    write32(node + root + dir::mdDat, date);
    const uint32_t desktop = leafDataOffset(node, 2);
    write32(node + desktop + fil::crDat, date);
    write32(node + desktop + fil::mdDat, date);

    // The root folder's key holds the name, so its record is rebuilt for
    // the new name's length: key (parent 1, the name), then the folder
    // record of the template.
    uint8_t name[32];
    formatting::putVolumeName(name, sizeof name);
    uint8_t record[40 + dir::recordSize] = {};
    buildCatalogKey(record, 1, name);
    const uint32_t keyBytes = paddedKeyBytes(record[ckr::keyLen]);
    std::memcpy(record + keyBytes, node + root, dir::recordSize);
    write16(record + keyBytes + dir::val, 1);
    return deleteNodeRecord(node, 0) && insertNodeRecord(node, 0, record, keyBytes + dir::recordSize);
}

int32_t formatDiskette(DriveEntry& entry)
{
    using namespace formatting;
    if (messageBox("Formatting will erase all data on diskette!", "WARNING!", uiOkCancel, uiIconWarning) !=
        uiAnswerOk)
        return errCancelled;
    const std::string label = labelText(entry);
    const std::string status = "Creating \"" + volumeNameText() + "\" on\n" + label;
    startWriting(entry, 24, status);
    const uint32_t date = macNow();

    [&] {
        uint8_t s[512];
        std::memset(s, 0xF6, sizeof s);
        if (!writeUnits(entry, s, 1, 0) || !writeUnits(entry, s, 1, 1)) return;
        for (uint32_t k = 5; k <= 25; ++k) {
            if (!writeZeroUnits(entry, 1, k)) return;
            if (k % 2) advanceProgress(1);
        }
        for (uint32_t k = 28; k <= 47; ++k) {
            if (!writeZeroUnits(entry, 1, k)) return;
            if (k % 2) advanceProgress(1);
        }
        for (int t = 0; t < templateCount; ++t) {
            if (!buildTemplateSector(t, date, s)) {
                setError(errFormat);
                return;
            }
            if (!writeUnits(entry, s, 1, templates[t].sector)) return;
            if (t == 1 || t == 3 || t == 5) advanceProgress(1);
        }
    }();

    return finishFormat(entry);
}

}  // namespace verrin
