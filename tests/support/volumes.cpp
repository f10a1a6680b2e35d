// Engine-level test helpers. See volumes.h.
#include "support/volumes.h"

#include <cstring>

#include "base/macroman.h"
#include "base/ui_headless.h"
#include "devices/image_drive.h"
#include "hfs/check.h"
#include "hfs/drive.h"
#include "hfs/format.h"

namespace verrin::testsupport {

int openImage(const std::string& path, bool writable, uint32_t sectorSize)
{
    closeAll();
    const int drive = openImageDrive(path.c_str(), writable, sectorSize);
    if (drive < 0) return -1;
    selectDrive(drive);
    return drive;
}

bool mountAt(int index)
{
    if (index < 0 || index >= volumeCount) return false;
    lastError = errNone;
    setVolumePosition(volumeList[index]);
    mountVolume();
    return lastError == errNone;
}

void closeAll()
{
    closeVolume();
    closeImageDrives();
    clearDrives();
    currentDrive = -1;
    lastError = errNone;
}

namespace {

bool walkFolder(uint32_t folderId, const std::string& prefix, std::vector<WalkedItem>& out, size_t limit, int depth)
{
    if (depth > 100) {
        lastError = errBadNode;
        return false;
    }
    std::vector<CatalogItem> items;
    if (!listFolder(folderId, items)) return false;
    for (const CatalogItem& it : items) {
        if (out.size() >= limit) return true;
        const std::string path = prefix.empty() ? macNameToUtf8(it.name) : prefix + ":" + macNameToUtf8(it.name);
        out.push_back({path, folderId, it});
        if (it.kind == cdrFolder && !walkFolder(it.id, path, out, limit, depth + 1)) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> checkLines()
{
    std::vector<std::string> lines;
    for (const CheckFinding& f : checkVolume().findings)
        lines.push_back((f.severity == CheckSeverity::damage ? "" : std::string(checkSeverityName(f.severity)) + ": ") +
                        f.text);
    return lines;
}

bool walkVolume(std::vector<WalkedItem>& out, size_t limit)
{
    out.clear();
    return walkFolder(2, "", out, limit, 0);
}

bool readWholeFork(uint32_t parentId, const uint8_t* name, uint8_t fork, std::string& out)
{
    out.clear();
    FileRef ref = openFileRef(parentId, name);
    if (lastError != errNone) return false;
    pinBuffer(ref.buffer);
    const uint32_t length = forkLogicalLength(ref, fork);
    std::string buffer(64 * 512, '\0');
    uint32_t position = 0;
    bool ok = true;
    while (position < length) {
        const int32_t got = readFork(reinterpret_cast<uint8_t*>(buffer.data()), position / 512, 64, fork, ref);
        if (got <= 0) {
            ok = false;
            break;
        }
        const uint32_t bytes = std::min<uint32_t>(static_cast<uint32_t>(got) * 512, length - position);
        out.append(buffer.data(), bytes);
        position += bytes;
    }
    unpinBuffer(ref.buffer);
    return ok && lastError == errNone;
}

std::vector<std::string> formatAndUseDrive(int drive, size_t bytes)
{
    std::vector<std::string> problems;
    const auto failed = [&problems](const std::string& step) {
        problems.push_back(step + ": " + std::to_string(lastError));
        lastError = errNone;
    };
    headless::reset();
    headless::scriptedAnswers = {uiAnswerOk, uiAnswerYes};
    setNewVolumeName(reinterpret_cast<const uint8_t*>("Scratch"), 7);
    lastError = errNone;
    formatDrive(drive);
    if (lastError != errNone) failed("format");
    selectDrive(drive);
    if (lastError != errNone || volumeCount != 1) {
        failed("scan, volumes " + std::to_string(volumeCount));
        return problems;
    }
    const std::vector<uint8_t> name = macName("Written");
    std::string data(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(i * 7 + i / 512);
    headless::reset();
    if (!mountAt(0) || !enterFolder(2)) failed("mount");
    if (!headless::shown.empty()) problems.push_back("asked: " + headless::shown[0].text);
    FileInfo info{};
    std::memcpy(info.name, name.data(), name.size());
    std::memcpy(info.finderInfo, "BINAmisc", 8);
    createFile(info);
    FileRef ref = openFileRef(2, name.data());
    if (lastError != errNone) return failed("create"), problems;
    pinBuffer(ref.buffer);
    WriteRequest request{dataFork, ref, 0, reinterpret_cast<const uint8_t*>(data.data()),
                         static_cast<uint32_t>(data.size())};
    appendToFork(request);
    unpinBuffer(ref.buffer);
    flushVolume();
    if (lastError != errNone) failed("write");
    closeVolume();
    selectDrive(drive);
    std::string back;
    if (!mountAt(0) || !readWholeFork(2, name.data(), dataFork, back)) failed("read back");
    if (back != data) problems.push_back("the file read back differs");
    for (const std::string& p : checkLines()) problems.push_back(p);
    closeVolume();
    return problems;
}

std::vector<uint8_t> macName(const std::string& text)
{
    std::vector<uint8_t> n(text.size() + 1);
    n[0] = static_cast<uint8_t>(text.size());
    if (!text.empty()) std::memcpy(n.data() + 1, text.data(), text.size());
    return n;
}

namespace {

void put16(std::string& s, size_t at, uint32_t v)
{
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v);
}
void put32(std::string& s, size_t at, uint32_t v)
{
    put16(s, at, v >> 16);
    put16(s, at + 2, v & 0xFFFF);
}

}  // namespace

std::string buildPartitionedImage(uint32_t blockSize, const std::vector<PartitionSpec>& parts)
{
    const uint32_t mapBlocks = static_cast<uint32_t>(parts.size()) + 1;
    uint32_t next = 1 + mapBlocks + 8;
    std::vector<uint32_t> starts, lengths;
    for (const PartitionSpec& p : parts) {
        const uint32_t start = p.startBlock ? p.startBlock : next;
        const uint32_t len =
            p.blocks ? p.blocks : static_cast<uint32_t>((p.volumeBytes.size() + blockSize - 1) / blockSize);
        starts.push_back(start);
        lengths.push_back(len);
        next = std::max(next, start + len);
    }
    std::string img(static_cast<size_t>(next) * blockSize, '\0');
    put16(img, 0, 0x4552);
    put16(img, 2, blockSize);
    put32(img, 4, next);
    // Entry 1 describes the map itself, then the partitions.
    auto entry = [&](uint32_t k, uint32_t start, uint32_t len, const std::string& type, const char* name) {
        const size_t at = static_cast<size_t>(k) * blockSize;
        put16(img, at, 0x504D);
        put32(img, at + 4, mapBlocks);
        put32(img, at + 8, start);
        put32(img, at + 12, len);
        std::memcpy(&img[at + 16], name, std::strlen(name));
        std::memcpy(&img[at + 48], type.data(), type.size());
    };
    entry(1, 1, mapBlocks + 8, "Apple_partition_map", "Apple");
    for (size_t i = 0; i < parts.size(); ++i) {
        entry(static_cast<uint32_t>(i + 2), starts[i], lengths[i], parts[i].type, "Part");
        if (!parts[i].volumeBytes.empty())
            std::memcpy(&img[static_cast<size_t>(starts[i]) * blockSize], parts[i].volumeBytes.data(),
                        std::min(parts[i].volumeBytes.size(), static_cast<size_t>(lengths[i]) * blockSize));
    }
    return img;
}

std::string buildOldMapImage(const std::vector<std::string>& volumes)
{
    uint32_t next = 8;
    std::vector<uint32_t> starts;
    for (const std::string& v : volumes) {
        starts.push_back(next);
        next += static_cast<uint32_t>((v.size() + 511) / 512);
    }
    std::string img(static_cast<size_t>(next) * 512, '\0');
    put16(img, 512, 0x5453);
    for (size_t i = 0; i < volumes.size(); ++i) {
        put32(img, 512 + 2 + 12 * i, starts[i]);
        put32(img, 512 + 2 + 12 * i + 4, static_cast<uint32_t>((volumes[i].size() + 511) / 512));
        std::memcpy(&img[static_cast<size_t>(starts[i]) * 512], volumes[i].data(), volumes[i].size());
    }
    return img;
}

}  // namespace verrin::testsupport
