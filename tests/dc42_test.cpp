// DiskCopy 4.2 images: the corpus images are recognised, mounted and their
// checksums verify; images made by verrin-cli carry a correct header and
// checksum, also after sectors are rewritten; conversion to and from raw
// images keeps the volume byte for byte; damaged headers are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/macroman.h"
#include "devices/dc42_drive.h"
#include "devices/image_drive.h"
#include "hfs/drive.h"
#include "hfs/hfs.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

uint32_t be32(const std::string& s, size_t at)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8 | static_cast<uint8_t>(s[at + 3]);
}

// The DiskCopy checksum written out on its own: add each big-endian word,
// rotate right by one.
uint32_t referenceChecksum(const std::string& bytes, size_t from, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = from; i + 1 < from + length; i += 2) {
        const uint32_t word = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 8 |
                              static_cast<uint8_t>(bytes[i + 1]);
        sum += word;
        sum = (sum >> 1) | ((sum & 1u) << 31);
    }
    return sum;
}

struct Header {
    std::string name;
    uint32_t dataSize, tagSize, dataSum, tagSum;
    uint8_t encoding, format;
    uint32_t privateWord;
};

Header headerOf(const std::string& file)
{
    Header h{};
    h.name = file.substr(1, static_cast<uint8_t>(file[0]));
    h.dataSize = be32(file, 64);
    h.tagSize = be32(file, 68);
    h.dataSum = be32(file, 72);
    h.tagSum = be32(file, 76);
    h.encoding = static_cast<uint8_t>(file[80]);
    h.format = static_cast<uint8_t>(file[81]);
    h.privateWord = be32(file, 80) & 0xFFFF;
    return h;
}

// Checks a DiskCopy file's sizes and both checksums from its bytes.
void expectSoundImage(const std::string& path)
{
    std::string file;
    ASSERT_TRUE(readFile(path, file));
    const Header h = headerOf(file);
    ASSERT_EQ(file.size(), 84u + h.dataSize + h.tagSize);
    EXPECT_EQ(h.privateWord, 0x0100u);
    EXPECT_EQ(referenceChecksum(file, 84, h.dataSize), h.dataSum);
    // The tag checksum leaves out the first 12 tag bytes.
    const uint32_t tagSum = h.tagSize > 12 ? referenceChecksum(file, 84 + h.dataSize + 12, h.tagSize - 12) : 0;
    EXPECT_EQ(tagSum, h.tagSum);
    bool dataOk = false, tagOk = false;
    ASSERT_TRUE(checkDiskCopyImage(path.c_str(), dataOk, tagOk));
    EXPECT_TRUE(dataOk);
    EXPECT_TRUE(tagOk);
}

}  // namespace

TEST(DiskCopy, CorpusImagesMountListAndVerify)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    struct Case {
        const char* file;
        uint32_t dataSize, tagSize;
        uint8_t encoding, format;
    };
    for (const Case& c : {Case{"hfs/gryphel_blanks__800K_dc42.image", 819200, 19200, 1, 0x22},
                          Case{"hfs/gryphel_blanks__400K_dc42.image", 409600, 9600, 0, 0x02}}) {
        SCOPED_TRACE(c.file);
        const std::string path = corpusFile(dir, c.file);
        ASSERT_FALSE(path.empty());
        expectSoundImage(path);
        std::string file;
        ASSERT_TRUE(readFile(path, file));
        const Header h = headerOf(file);
        EXPECT_EQ(h.name, "Untitled");
        EXPECT_EQ(h.dataSize, c.dataSize);
        EXPECT_EQ(h.tagSize, c.tagSize);
        EXPECT_EQ(h.encoding, c.encoding);
        EXPECT_EQ(h.format, c.format);

        const int d = openImage(path, false);
        ASSERT_GE(d, 0) << imageOpenProblem();
        EXPECT_EQ(driveTable[d].kind, DriveKind::diskCopyImage);
        EXPECT_EQ(imageDriveBytes(d), c.dataSize);
        ASSERT_EQ(volumeCount, 1);
        EXPECT_EQ(volumeList[0].start, 0u);
        EXPECT_EQ(macNameToUtf8(volumeList[0].name), "Untitled");
        ASSERT_TRUE(mountAt(0)) << errorText(lastError);
        // As recorded: one file (the Desktop file), no folders.
        std::vector<CatalogItem> items;
        ASSERT_TRUE(listFolder(2, items));
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].kind, cdrFile);
        EXPECT_EQ(items[0].rsrcLength, 321u);
        closeAll();

        // Every command of the tool takes the image as it is.
        const CommandResult ls = runCli({"ls", path});
        EXPECT_EQ(ls.exitCode, 0) << ls.err;
        EXPECT_NE(ls.out.find("Desktop"), std::string::npos) << ls.out;
        const CommandResult check = runCli({"check", path});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    }
}

TEST(DiskCopy, FormattedImageHasACorrectHeaderAndFollowsWrites)
{
    ScratchDir dir;
    const std::string path = dir.file("new.image");
    CommandResult r = runCli({"format", path, "--name", "Fresh", "--dc42"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string file;
    ASSERT_TRUE(readFile(path, file));
    ASSERT_EQ(file.size(), 84u + 1474560u);
    const Header h = headerOf(file);
    EXPECT_EQ(h.name, "Fresh");
    EXPECT_EQ(h.dataSize, 1474560u);
    EXPECT_EQ(h.tagSize, 0u);
    EXPECT_EQ(h.encoding, 3);
    EXPECT_EQ(h.format, 0x22);
    EXPECT_NE(h.dataSum, 0u);
    expectSoundImage(path);
    EXPECT_EQ(file.substr(84 + 1024, 2), "BD");
    r = runCli({"check", path});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

    // Files put there by the engine: the checksum follows at the flush.
    const std::string local = dir.file("note.txt");
    ASSERT_TRUE(writeFile(local, std::string(5000, 'n')));
    r = runCli({"put", path, ":", local});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectSoundImage(path);
    r = runCli({"cat", path, "note.txt"});
    EXPECT_EQ(r.out, std::string(5000, 'n'));

    // Formatting it again keeps it a DiskCopy image.
    r = runCli({"format", path, "--name", "Second", "--diskette"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectSoundImage(path);
    r = runCli({"volumes", path});
    EXPECT_NE(r.out.find("Second"), std::string::npos);

    // Sectors written through the drive; the checksum follows at sync.
    closeAll();
    const int d = openImageDrive(path.c_str(), true);
    ASSERT_GE(d, 0);
    ASSERT_NE(driveTable[d].sync, nullptr);
    std::vector<uint8_t> sector(512 * 3);
    for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_EQ(driveTable[d].write(driveTable[d], sector.data(), 3, 100), 3);
    // The medium ends where the data ends: nothing reaches the tags.
    EXPECT_EQ(driveTable[d].write(driveTable[d], sector.data(), 1, 2880), 0);
    lastError = errNone;
    driveTable[d].sync(driveTable[d]);
    EXPECT_EQ(lastError, errNone);
    closeAll();
    ASSERT_TRUE(readFile(path, file));
    EXPECT_EQ(file.substr(84 + 100 * 512, 3 * 512), std::string(sector.begin(), sector.end()));
    expectSoundImage(path);

    // A read-only drive gets no sync.
    const int ro = openImageDrive(path.c_str(), false);
    ASSERT_GE(ro, 0);
    EXPECT_EQ(driveTable[ro].sync, nullptr);
    closeAll();
}

TEST(DiskCopy, RawAndDiskCopyConvertWithoutChangingTheVolume)
{
    ScratchDir dir;
    const std::string raw = dir.file("disk.img");
    CommandResult r = runCli({"format", raw, "--name", "Round Trip", "--diskette"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string dc = dir.file("disk.image");
    const std::string back = dir.file("back.img");
    r = runCli({"convert", raw, dc});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runCli({"convert", dc, back});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string a, b, c;
    ASSERT_TRUE(readFile(raw, a));
    ASSERT_TRUE(readFile(back, b));
    ASSERT_TRUE(readFile(dc, c));
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(c.substr(84) == a);
    EXPECT_EQ(headerOf(c).name, "Round Trip");
    expectSoundImage(dc);

    // And the other way, from a DiskCopy image made by DiskCopy itself:
    // the data area survives unchanged (the tags are not carried over).
    if (!corpusDir().empty()) {
        const std::string original = corpusFile(dir, "hfs/gryphel_blanks__800K_dc42.image");
        ASSERT_TRUE(diskCopyToRaw(original.c_str(), raw.c_str()));
        ASSERT_TRUE(rawToDiskCopy(raw.c_str(), dc.c_str()));
        std::string o;
        ASSERT_TRUE(readFile(original, o));
        ASSERT_TRUE(readFile(dc, c));
        EXPECT_TRUE(c.substr(84) == o.substr(84, 819200));
        EXPECT_EQ(be32(c, 72), be32(o, 72));  // same data, same checksum
        expectSoundImage(dc);
    }
    // Sizes that are no diskette's are not wrapped.
    ASSERT_TRUE(makeBlankFile(raw, 1 << 20));
    lastError = errNone;
    EXPECT_FALSE(rawToDiskCopy(raw.c_str(), dc.c_str()));
    EXPECT_EQ(lastError, errNotSupported);
    lastError = errNone;
    r = runCli({"convert", raw, dc});
    EXPECT_EQ(r.exitCode, 1);
}

TEST(DiskCopy, DamagedHeadersAreRefusedNotTakenAsRawImages)
{
    ScratchDir dir;
    const std::string path = dir.file("d.image");
    lastError = errNone;
    const uint8_t name[] = {3, 'A', 'b', 'c'};
    ASSERT_TRUE(createDiskCopyImage(path.c_str(), name, 819200));
    closeAll();
    int d = openImageDrive(path.c_str(), false);
    ASSERT_GE(d, 0);
    EXPECT_EQ(driveTable[d].kind, DriveKind::diskCopyImage);
    closeAll();

    // Cut short, or with bytes after the tags: the sizes no longer match.
    for (const int64_t delta : {-512, -1, 1, 4096}) {
        SCOPED_TRACE(delta);
        std::filesystem::resize_file(path, static_cast<uint64_t>(84 + 819200 + delta));
        d = openImageDrive(path.c_str(), true);
        EXPECT_EQ(d, -1);
        EXPECT_EQ(lastError, errPcRead);
        EXPECT_NE(std::string(imageOpenProblem()).find("do not match"), std::string::npos);
        lastError = errNone;
        const CommandResult r = runCli({"ls", path});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("do not match"), std::string::npos) << r.err;
        // The format command leaves such a file alone.
        const uint64_t before = std::filesystem::file_size(path);
        EXPECT_EQ(runCli({"format", path, "--name", "X", "--diskette"}).exitCode, 1);
        EXPECT_EQ(runCli({"format", path, "--name", "X", "--size", "2M"}).exitCode, 1);
        EXPECT_EQ(std::filesystem::file_size(path), before);
    }
    closeAll();

    // Header decoding on its own.
    uint8_t h[84] = {};
    DiskCopyHeader out{};
    h[82] = 1;
    h[0] = 64;
    EXPECT_NE(parseDiskCopyHeader(h, 84 + 512, out), nullptr);
    h[0] = 0;
    h[66] = 2;  // data size 512
    EXPECT_EQ(parseDiskCopyHeader(h, 84 + 512, out), nullptr);
    EXPECT_EQ(out.dataSize, 512u);
    h[71] = 3;  // odd tag size
    EXPECT_NE(parseDiskCopyHeader(h, 84 + 512 + 3, out), nullptr);
    h[71] = 0;
    h[67] = 1;  // data size 513
    EXPECT_FALSE(looksLikeDiskCopyHeader(h));
}
