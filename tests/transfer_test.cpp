// The five translations in both directions on real hfsutils volumes: what
// each writes to the PC and to the Mac, checked against hfsutils' own
// extractions; text line ends; MacBinary layout and padding; the type map
// only for Data File; KeepDate; name collisions on both sides; and that a
// cancelled or failed copy leaves nothing behind on either side.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/report.h"
#include "base/format.h"
#include "base/macroman.h"
#include "base/progress.h"
#include "base/settings.h"
#include "base/ui_headless.h"
#include "hfs/check.h"
#include "hfs/hfs.h"
#include "support/peers.h"
#include "support/timezone.h"
#include "support/volumes.h"
#include "transfer/binhex.h"
#include "transfer/pcfile.h"
#include "transfer/streams.h"
#include "transfer/translation_table.h"
#include "transfer/translations.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

// A MacBinary II file (with header CRC) that hcopy -m accepts, used to put
// files with both forks and a given type onto a volume.
std::string macBinaryII(const std::string& name, const char* type, const char* creator, uint16_t flags,
                        const std::string& data, const std::string& rsrc, uint32_t modified = 0)
{
    std::string h(128, '\0');
    h[1] = static_cast<char>(name.size());
    std::memcpy(h.data() + 2, name.data(), name.size());
    std::memcpy(h.data() + 65, type, 4);
    std::memcpy(h.data() + 69, creator, 4);
    h[73] = static_cast<char>(flags >> 8);
    h[101] = static_cast<char>(flags & 0xFF);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    put32(83, static_cast<uint32_t>(data.size()));
    put32(87, static_cast<uint32_t>(rsrc.size()));
    put32(91, modified);
    put32(95, modified);
    h[122] = static_cast<char>(129);
    h[123] = static_cast<char>(129);
    const uint16_t crc = crc16(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(h.data()), 124));
    h[124] = static_cast<char>(crc >> 8);
    h[125] = static_cast<char>(crc);
    auto pad = [](std::string s) { return s + std::string((128 - s.size() % 128) % 128, '\0'); };
    return h + pad(data) + pad(rsrc);
}

std::string pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 17 + i / 7) & 0xFF);
    return s;
}

uint32_t be32(const std::string& s, size_t at)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8 | static_cast<uint8_t>(s[at + 3]);
}

// One test's world: a scratch folder that is also the PC current directory
// (restored afterwards), an hfsutils volume in it, the settings at their
// defaults and the translations installed.
struct World {
    ScratchDir dir;
    std::string image;
    std::filesystem::path home;
    std::string pcDir;

    World()
    {
        home = std::filesystem::current_path();
        pcDir = dir.file("pc");
        std::filesystem::create_directory(pcDir);
        image = dir.file("v.img");
        lastError = errNone;
        headless::reset();
        settings = Settings{};
        settings.ftmPath = dir.file("KVOL.FTM");
        settings.iniPath = dir.file("KVOL.INI");
        loadTranslationTable();
        installTranslations();
    }
    ~World()
    {
        for (int i = 0; i < transferStreamCount; ++i) closeTransfer(i);
        closeAll();
        headless::reset();
        std::filesystem::current_path(home);
    }
    bool make(uint32_t kilobytes = 1440)
    {
        if (!makeHfsImage(dir, image, kilobytes, "Transfer")) return false;
        return true;
    }
    void hfs(const std::vector<std::string>& argv)
    {
        const CommandResult r = runPeer(dir, argv);
        ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
    }
    CommandResult peer(const std::vector<std::string>& argv, const std::string& input = {})
    {
        return runPeer(dir, argv, input);
    }
    // Puts a file with both forks through hcopy -m.
    void putMac(const std::string& name, const char* type, const char* creator, const std::string& data,
                const std::string& rsrc, uint32_t modified = 0)
    {
        const std::string bin = dir.file("in.bin");
        ASSERT_TRUE(writeFile(bin, macBinaryII(name, type, creator, 0x2000, data, rsrc, modified)));
        hfs({"hcopy", "-m", bin, ":" + name});
    }
    bool mount(bool writable)
    {
        if (openImage(image, writable) < 0 || !mountAt(0)) return false;
        std::filesystem::current_path(pcDir);
        return writable ? enterFolder(2) : true;
    }
    void unmount()
    {
        closeAll();
        std::filesystem::current_path(home);
    }
    std::string pc(const std::string& name) const { return pcDir + "/" + name; }
    std::string pcBytes(const std::string& name) const
    {
        std::string s;
        EXPECT_TRUE(readFile(pc(name), s)) << name;
        return s;
    }
    // The forks of a Mac file as hfsutils reads them (hcopy -m, parsed).
    bool macForks(const std::string& name, std::string& data, std::string& rsrc, std::string* header = nullptr)
    {
        const std::string out = dir.file("out.bin");
        std::filesystem::remove(out);
        const CommandResult r = peer({"hcopy", "-m", ":" + name, out});
        if (r.exitCode != 0) return false;
        std::string bin;
        if (!readFile(out, bin) || bin.size() < 128) return false;
        const uint32_t dl = be32(bin, 83), rl = be32(bin, 87);
        const size_t rsrcAt = 128 + dl + (128 - dl % 128) % 128;
        if (rsrcAt + rl > bin.size()) return false;
        data = bin.substr(128, dl);
        rsrc = bin.substr(rsrcAt, rl);
        if (header) *header = bin.substr(0, 128);
        return true;
    }
    std::string hls() { return peer({"hls", "-la"}).out; }
};

std::vector<uint8_t> nameOf(const std::string& s) { return macName(s); }


}  // namespace

TEST(Transfer, MacToPcWritersMatchHfsutils)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    const std::string data = "first\rsecond\r\nthird\n\r\r" + pattern(70000, 1) + "\r";
    const std::string rsrc = pattern(1000, 2);
    w.putMac("Letter", "TEXT", "ttxt", data, rsrc);
    ASSERT_TRUE(w.mount(false));

    const auto name = nameOf("Letter");
    setMacToPcDefault(DataFile, "");
    dataFileToPc(name.data(), 2);
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(w.pcBytes("Letter"), data);

    setMacToPcDefault(TextFile, "txt");
    textFileToPc(name.data(), 2);
    ASSERT_EQ(lastError, errNone);
    std::string expected;
    for (char c : data) {
        expected += c;
        if (c == '\r') expected += '\n';
    }
    EXPECT_EQ(w.pcBytes("Letter.txt"), expected);  // CR CR -> CR LF CR LF, CR LF -> CR LF LF

    setMacToPcDefault(ResourceFile, "rsr");
    resourceFileToPc(name.data(), 2);
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(w.pcBytes("Letter.rsr"), rsrc);

    // The hfsutils raw extraction of the data fork agrees.
    w.unmount();
    ASSERT_EQ(w.peer({"hcopy", "-r", ":Letter", w.dir.file("ref")}).exitCode, 0);
    std::string ref;
    ASSERT_TRUE(readFile(w.dir.file("ref"), ref));
    EXPECT_EQ(ref, data);
}

TEST(Transfer, MacBinaryLayoutAndPadding)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    const std::string longName = "A name of exactly 31 characters";
    ASSERT_EQ(longName.size(), 31u);
    w.putMac(longName, "APPL", "ABCD", "", pattern(300, 3), 3000000000u);
    w.putMac("Even", "TEXT", "ttxt", pattern(128, 4), "");
    ASSERT_TRUE(w.mount(false));
    setMacToPcDefault(MacBinary, "bin");

    macBinaryToPc(nameOf(longName).data(), 2);
    ASSERT_EQ(lastError, errNone);
    std::string bin = w.pcBytes(longName + ".bin");
    ASSERT_EQ(bin.size(), 128u + 384u);  // empty data fork: the resource fork follows the header at once
    EXPECT_EQ(bin[0], 0);
    EXPECT_EQ(bin[1], 31);
    EXPECT_EQ(bin.substr(2, 31), longName);
    EXPECT_EQ(bin.substr(33, 32), std::string(32, '\0'));
    EXPECT_EQ(bin.substr(65, 8), "APPLABCD");
    EXPECT_EQ(static_cast<uint8_t>(bin[73]), 0x20);  // flags word, high byte first
    EXPECT_EQ(bin.substr(75, 8), std::string(8, '\0'));
    EXPECT_EQ(be32(bin, 83), 0u);
    EXPECT_EQ(be32(bin, 87), 300u);
    EXPECT_EQ(be32(bin, 95), 3000000000u);
    EXPECT_EQ(bin.substr(99, 23), std::string(23, '\0'));
    EXPECT_EQ(bin.substr(122, 2), "\x81\x81");  // MacBinary II, readable by MacBinary II readers
    EXPECT_EQ(bin.substr(128, 300), pattern(300, 3));
    EXPECT_EQ(bin.substr(428), std::string(84, '\0'));

    macBinaryToPc(nameOf("Even").data(), 2);
    ASSERT_EQ(lastError, errNone);
    bin = w.pcBytes("Even.bin");
    ASSERT_EQ(bin.size(), 256u);  // no padding after a 128-byte fork, none after an empty one
    EXPECT_EQ(bin.substr(128), pattern(128, 4));
}

TEST(Transfer, BinHexRoundTripAndPeerDecode)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    std::string data = pattern(5000, 5);
    data += std::string(300, '\x90') + "\x90\x90\x41";
    const std::string rsrc = pattern(777, 6);
    w.putMac("Hex Me", "TEXT", "R*ch", data, rsrc);
    ASSERT_TRUE(w.mount(true));
    setMacToPcDefault(BinHex, "hqx");
    binHexToPc(nameOf("Hex Me").data(), 2);
    ASSERT_EQ(lastError, errNone);
    ASSERT_TRUE(pcExists("Hex Me.hqx"));

    // Back onto the volume under another name, through the reader.
    std::filesystem::rename(w.pc("Hex Me.hqx"), w.pc("copy.hqx"));
    w.hfs({"hrename", ":Hex Me", ":Original"});
    w.unmount();
    ASSERT_TRUE(w.mount(true));
    binHexToMac("copy.hqx", 2);
    ASSERT_EQ(lastError, errNone);
    flushVolume();
    w.unmount();
    std::string d, r, header;
    ASSERT_TRUE(w.macForks("Hex Me", d, r, &header));
    EXPECT_EQ(d, data);
    EXPECT_EQ(r, rsrc);
    EXPECT_EQ(header.substr(65, 8), "TEXTR*ch");

    // Perl's decoder reads the text as well (it wants LF line ends).
    if (havePeer("perl")) {
        std::string hqx;
        ASSERT_TRUE(readFile(w.pc("copy.hqx"), hqx));
        for (char& c : hqx)
            if (c == '\r') c = '\n';
        ASSERT_TRUE(writeFile(w.dir.file("lf.hqx"), hqx));
        const CommandResult p = w.peer({"perl", "-MConvert::BinHex", "-e",
                                        "my $h=Convert::BinHex->open(FH=>\\*STDIN);$h->read_header;"
                                        "my $d='';while(defined(my $c=$h->read_data)){$d.=$c}"
                                        "my $r='';while(defined(my $c=$h->read_resource)){$r.=$c}"
                                        "print length($d),' ',length($r),' ',$h->type,$h->creator"},
                                       hqx);
        EXPECT_EQ(p.out, "5303 777 TEXTR*ch") << p.err;
    }
}

TEST(Transfer, PcToMacReadersMatchHfsutils)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make(4096));
    // Over 2 MB: the first buffer, large pieces, then the buffered rest.
    const std::string body = pattern(2 * 1048576 + 40000, 7);
    ASSERT_TRUE(writeFile(w.pc("plain.dat"), body));
    ASSERT_TRUE(writeFile(w.pc("notes.txt"), std::string("a\r\nb\nc\x1a") + "d\r"));
    ASSERT_TRUE(writeFile(w.pc("fork.rsr"), "RESOURCE"));
    ASSERT_TRUE(writeFile(w.pc("empty"), ""));
    ASSERT_TRUE(writeFile(w.pc("A rather long PC file name of forty.txt"), "x"));
    ASSERT_TRUE(w.mount(true));
    setPcToMacDefault(DataFile, "BINA", "????");
    setPcToMacDefault(TextFile, "TEXT", "ttxt");
    setPcToMacDefault(ResourceFile, "rsrc", "RSED");
    settings.pcUseMap = 0;

    progressTotal = body.size();
    openProgress(progressCopyPcToMac);
    dataFileToMac("plain.dat", 2);
    EXPECT_EQ(progressDone, body.size());
    closeProgress();
    progressTotal = 0;
    textFileToMac("notes.txt", 2);
    resourceFileToMac("fork.rsr", 2);
    dataFileToMac("empty", 2);
    dataFileToMac("A rather long PC file name of forty.txt", 2);
    ASSERT_EQ(lastError, errNone);
    EXPECT_TRUE(checkLines().empty());
    flushVolume();
    w.unmount();

    std::string d, r, header;
    ASSERT_TRUE(w.macForks("plain.dat", d, r, &header));
    EXPECT_EQ(d, body);
    EXPECT_EQ(r, "");
    EXPECT_EQ(header.substr(65, 8), "BINA????");
    ASSERT_TRUE(w.macForks("notes.txt", d, r, &header));
    EXPECT_EQ(d, "a\rb\rcd\r");  // CR LF and a lone LF become CR, Ctrl-Z is dropped
    EXPECT_EQ(header.substr(65, 8), "TEXTttxt");
    ASSERT_TRUE(w.macForks("fork.rsr", d, r, &header));
    EXPECT_EQ(d, "");
    EXPECT_EQ(r, "RESOURCE");
    EXPECT_EQ(header.substr(65, 8), "rsrcRSED");
    ASSERT_TRUE(w.macForks("empty", d, r));
    EXPECT_EQ(d + r, "");
    EXPECT_TRUE(w.macForks("A rather long PC file name of f", d, r));  // cut to 31
}

TEST(Transfer, TypeMapServesOnlyDataFile)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    ASSERT_TRUE(writeFile(settings.ftmPath, "[Mac Type Map]\nTEXTttxt=doc\nTEXT=txt\n[PC Type Map]\nwp=WPD0WPC2\n"));
    w.putMac("Memo", "TEXT", "ttxt", "memo\r", "");
    ASSERT_TRUE(writeFile(w.pc("letter.wp"), "wp"));
    ASSERT_TRUE(writeFile(w.pc("other.wp"), "wp"));
    ASSERT_TRUE(w.mount(true));
    setMacToPcDefault(DataFile, "dat");
    setMacToPcDefault(TextFile, "asc");
    setPcToMacDefault(DataFile, "BINA", "ABCD");
    setPcToMacDefault(TextFile, "TEXT", "EFGH");

    dataFileToPc(nameOf("Memo").data(), 2);
    textFileToPc(nameOf("Memo").data(), 2);
    settings.macUseMap = 0;
    dataFileToPc(nameOf("Memo").data(), 2);
    ASSERT_EQ(lastError, errNone);
    EXPECT_TRUE(pcExists("Memo.doc"));
    EXPECT_TRUE(pcExists("Memo.asc"));
    EXPECT_TRUE(pcExists("Memo.dat"));

    dataFileToMac("letter.wp", 2);
    textFileToMac("other.wp", 2);
    ASSERT_EQ(lastError, errNone);
    CatalogItem item{};
    ASSERT_EQ(lookupCatalogItem(2, nameOf("letter.wp").data(), item), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(item.finderInfo), 8), "WPD0WPC2");
    ASSERT_EQ(lookupCatalogItem(2, nameOf("other.wp").data(), item), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(item.finderInfo), 8), "TEXTEFGH");
}

TEST(Transfer, KeepDateCarriesModificationTimes)
{
    VERRIN_REQUIRE_PEER("hformat");
    // At UTC-7 a local wall-clock date is the instant plus 2082819600.
    testsupport::ScopedTimeZone zone("MST7");
    World w;
    ASSERT_TRUE(w.make());
    const uint32_t macDate = 3000000000u;
    w.putMac("Dated", "TEXT", "ttxt", "d", "", macDate);
    ASSERT_TRUE(writeFile(w.pc("old.txt"), "old"));
    ASSERT_TRUE(pcSetModTime(w.pc("old.txt").c_str(), 800000000));
    ASSERT_TRUE(writeFile(w.pc("text.txt"), "text"));
    ASSERT_TRUE(pcSetModTime(w.pc("text.txt").c_str(), 800000000));
    ASSERT_TRUE(w.mount(true));
    setMacToPcDefault(TextFile, "txt");

    dataFileToPc(nameOf("Dated").data(), 2);
    textFileToPc(nameOf("Dated").data(), 2);  // only Data File keeps the date
    ASSERT_EQ(lastError, errNone);
    int64_t t = 0;
    ASSERT_TRUE(pcGetModTime("Dated", t));
    EXPECT_EQ(t, int64_t{macDate} - 2082819600);
    ASSERT_TRUE(pcGetModTime("Dated.txt", t));
    EXPECT_NE(t, int64_t{macDate} - 2082819600);

    dataFileToMac("old.txt", 2);
    textFileToMac("text.txt", 2);
    ASSERT_EQ(lastError, errNone);
    CatalogItem item{};
    ASSERT_EQ(lookupCatalogItem(2, nameOf("old.txt").data(), item), 1);
    EXPECT_EQ(item.modifyDate, 800000000u + 2082819600u);
    EXPECT_EQ(item.createDate, 800000000u + 2082819600u);
    ASSERT_EQ(lookupCatalogItem(2, nameOf("text.txt").data(), item), 1);
    EXPECT_GT(item.modifyDate, 800000000u + 2082819600u + 1000000u);

    settings.keepDate = 0;
    std::filesystem::remove(w.pc("Dated"));
    dataFileToPc(nameOf("Dated").data(), 2);
    ASSERT_TRUE(pcGetModTime("Dated", t));
    EXPECT_NE(t, int64_t{macDate} - 2082819600);
}

TEST(Transfer, PcNameCollisions)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    w.putMac("REPORT.TXT", "TEXT", "ttxt", "new", "");
    ASSERT_TRUE(writeFile(w.pc("REPORT.TXT"), "old"));
    ASSERT_TRUE(pcSetModTime(w.pc("REPORT.TXT").c_str(), 900000000));
    ASSERT_TRUE(w.mount(false));
    setMacToPcDefault(DataFile, "");
    const auto name = nameOf("REPORT.TXT");

    // Skip leaves the existing file, its time included.
    headless::scriptedNames = {{collisionSkip, ""}};
    dataFileToPc(name.data(), 2);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(w.pcBytes("REPORT.TXT"), "old");
    int64_t t = 0;
    ASSERT_TRUE(pcGetModTime("REPORT.TXT", t));
    EXPECT_EQ(t, 900000000);

    // OK with a name that is also taken asks again; then the new name.
    ASSERT_TRUE(writeFile(w.pc("taken"), "t"));
    headless::scriptedNames = {{collisionOk, "taken"}, {collisionOk, "fresh"}};
    dataFileToPc(name.data(), 2);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(w.pcBytes("fresh"), "new");
    EXPECT_EQ(w.pcBytes("taken"), "t");
    EXPECT_TRUE(headless::scriptedNames.empty());

    // Cancel stops with errCancelled and makes nothing.
    headless::scriptedNames = {{collisionCancel, ""}};
    dataFileToPc(name.data(), 2);
    EXPECT_EQ(lastError, errCancelled);
    lastError = errNone;
    EXPECT_EQ(w.pcBytes("REPORT.TXT"), "old");

    // OverWrite replaces.
    headless::scriptedNames = {{collisionOverwrite, ""}};
    dataFileToPc(name.data(), 2);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(w.pcBytes("REPORT.TXT"), "new");

    // AutoRename: REPORT0.TXT, and the dialog once all 36 are taken.
    settings.autoRename = 1;
    dataFileToPc(name.data(), 2);
    EXPECT_EQ(w.pcBytes("REPORT0.TXT"), "new");
    const char* marks = "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (const char* m = marks; *m; ++m) ASSERT_TRUE(writeFile(w.pc(std::string("REPORT") + *m + ".TXT"), "x"));
    headless::scriptedNames = {{collisionSkip, ""}};
    headless::shown.clear();
    dataFileToPc(name.data(), 2);
    EXPECT_EQ(lastError, errNone);
    ASSERT_EQ(headless::shown.size(), 1u);
    EXPECT_EQ(headless::shown[0].caption, "PC Name Already Exists");
}

TEST(Transfer, MacNameCollisions)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    w.putMac("clash", "APPL", "OLD!", "old data", "old rsrc");
    ASSERT_TRUE(writeFile(w.pc("clash"), "new data"));
    ASSERT_TRUE(w.mount(true));

    headless::scriptedNames = {{collisionSkip, ""}};
    dataFileToMac("clash", 2);
    EXPECT_EQ(lastError, errNone);
    headless::scriptedNames = {{collisionCancel, ""}};
    dataFileToMac("clash", 2);
    EXPECT_EQ(lastError, errCancelled);
    reportLastError();
    headless::scriptedNames = {{collisionOk, "renamed"}};
    dataFileToMac("clash", 2);
    EXPECT_EQ(lastError, errNone);
    flushVolume();
    headless::scriptedNames = {{collisionOverwrite, ""}};
    dataFileToMac("clash", 2);
    EXPECT_EQ(lastError, errNone);
    flushVolume();
    w.unmount();

    std::string d, r;
    ASSERT_TRUE(w.macForks("clash", d, r));
    EXPECT_EQ(d, "new data");  // both forks replaced
    EXPECT_EQ(r, "");
    ASSERT_TRUE(w.macForks("renamed", d, r));
    EXPECT_EQ(d, "new data");
}

TEST(Transfer, CancelledOrFailedMacToPcCopyLeavesNoPcFile)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    w.putMac("Big", "BINA", "????", pattern(200000, 8), pattern(50000, 9));
    ASSERT_TRUE(w.mount(false));
    for (const TranslationMode mode : {DataFile, TextFile, MacBinary, BinHex}) {
        SCOPED_TRACE(mode);
        setMacToPcDefault(mode, "");
        headless::cancelAfterPumps = 3;
        translationTable[mode].macToPc.routine(nameOf("Big").data(), 2);
        EXPECT_EQ(lastError, errCancelled);
        lastError = errNone;
        EXPECT_FALSE(pcExists("Big"));
    }
    // Replacing an existing file: the old contents survive a cancelled copy
    // and give way only to a complete one.
    ASSERT_TRUE(writeFile(w.pc("Big"), "keep"));
    setMacToPcDefault(DataFile, "");
    headless::scriptedNames = {{collisionOverwrite, ""}, {collisionOverwrite, ""}};
    headless::cancelAfterPumps = 3;
    dataFileToPc(nameOf("Big").data(), 2);
    EXPECT_EQ(lastError, errCancelled);
    lastError = errNone;
    EXPECT_EQ(w.pcBytes("Big"), "keep");
    EXPECT_FALSE(pcExists("Big.~partial"));
    dataFileToPc(nameOf("Big").data(), 2);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(w.pcBytes("Big"), pattern(200000, 8));
    EXPECT_FALSE(pcExists("Big.~partial"));
    std::filesystem::remove(w.pc("Big"));

    // A file that cannot be created (a directory holds the name).
    std::filesystem::create_directory(w.pc("Big"));
    dataFileToPc(nameOf("Big").data(), 2);
    EXPECT_EQ(lastError, errPcCreate);
    lastError = errNone;
    EXPECT_TRUE(pcIsDirectory("Big"));
    // A file that is not there creates nothing.
    dataFileToPc(nameOf("Missing").data(), 2);
    EXPECT_NE(lastError, errNone);
    lastError = errNone;
    EXPECT_FALSE(pcExists("Missing"));
}

TEST(Transfer, DamagedEncodedFilesLeaveNoTraceOnTheVolume)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    w.putMac("Source", "TEXT", "ttxt", pattern(3000, 10), pattern(900, 11));
    ASSERT_TRUE(w.mount(true));
    setMacToPcDefault(MacBinary, "bin");
    setMacToPcDefault(BinHex, "hqx");
    macBinaryToPc(nameOf("Source").data(), 2);
    binHexToPc(nameOf("Source").data(), 2);
    ASSERT_EQ(lastError, errNone);
    w.hfs({"hdel", ":Source"});
    w.unmount();
    const std::string before = w.hls();

    std::string bin, hqx;
    ASSERT_TRUE(readFile(w.pc("Source.bin"), bin));
    ASSERT_TRUE(readFile(w.pc("Source.hqx"), hqx));
    struct Case {
        const char* file;
        std::string bytes;
        TranslationMode mode;
        int32_t error;
    };
    std::string flipped = hqx;
    flipped[hqx.size() / 2] = flipped[hqx.size() / 2] == 'A' ? 'B' : 'A';
    const Case cases[] = {
        {"short.bin", bin.substr(0, 128 + 2000), MacBinary, errDamagedFile},
        {"shortrsrc.bin", bin.substr(0, 128 + 3072 + 500), MacBinary, errDamagedFile},
        {"short.hqx", hqx.substr(0, hqx.size() / 2), BinHex, errDamagedFile},
        {"flipped.hqx", flipped, BinHex, errDamagedFile},
        {"notmb.bin", std::string(200, 'x'), MacBinary, errWrongFileType},
        {"nothqx.hqx", "no colon here\r", BinHex, errWrongFileType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(writeFile(w.pc(c.file), c.bytes));
        ASSERT_TRUE(w.mount(true));
        translationTable[c.mode].pcToMac.routine(c.file, 2);
        EXPECT_EQ(lastError, c.error);
        reportLastError();
        EXPECT_EQ(lastError, errNone);
        CatalogItem item{};
        EXPECT_EQ(lookupCatalogItem(2, nameOf("Source").data(), item), 0);
        EXPECT_TRUE(checkLines().empty());
        flushVolume();
        w.unmount();
        EXPECT_EQ(w.hls(), before);
    }
}

TEST(Transfer, StreamsReadExactForkLengthsAndRefuseAThirdStream)
{
    VERRIN_REQUIRE_PEER("hformat");
    World w;
    ASSERT_TRUE(w.make());
    w.putMac("Odd", "BINA", "????", pattern(1000, 12), pattern(70001, 13));
    ASSERT_TRUE(w.mount(false));
    TransferFile f{};
    std::memcpy(f.name, nameOf("Odd").data(), 4);
    f.folderId = 2;
    const int s = openTransfer(modeMacDataRead, f);
    ASSERT_GE(s, 0);
    EXPECT_EQ(f.dataLength, 1000u);
    EXPECT_EQ(f.rsrcLength, 70001u);
    std::string got;
    for (int b; (b = readTransferByte(s)) >= 0;) got += static_cast<char>(b);
    EXPECT_EQ(got, pattern(1000, 12));
    switchFork(s, f);
    got.clear();
    for (int b; (b = readTransferByte(s)) >= 0;) got += static_cast<char>(b);
    EXPECT_EQ(got, pattern(70001, 13));

    TransferFile pcf{};
    std::strcpy(reinterpret_cast<char*>(pcf.name), "out");
    const int t = openTransfer(modePcWrite, pcf);
    ASSERT_GE(t, 0);
    TransferFile third = f;
    EXPECT_EQ(openTransfer(modeMacDataRead, third), -1);
    EXPECT_EQ(lastError, errTooManyOpen);
    // The error is pending while the target closes: the partial PC file goes.
    writeTransferByte(t, 'x');
    closeTransfer(t);
    EXPECT_FALSE(pcExists("out"));
    lastError = errNone;
    closeTransfer(s);
}

// A PC file read through a stream stops at the size it had when opened
// without a read that only finds the end, yet a file that grows or shrinks
// meanwhile gives exactly the bytes it holds.
TEST(Transfer, PcStreamGivesTheBytesOfAFileThatChangesWhileRead)
{
#ifdef _WIN32
    GTEST_SKIP() << "a file open for reading cannot be written meanwhile";
#endif
    ScratchDir dir;
    const std::string name = dir.file("changing");
    auto readAll = [&](uint32_t size, const std::function<void()>& change) {
        writeFile(name, pattern(size, 21));
        TransferFile f{};
        std::strcpy(reinterpret_cast<char*>(f.name), name.c_str());
        const int s = openTransfer(modePcRead, f);
        EXPECT_GE(s, 0);
        change();
        std::string got(100000, '\0');
        uint32_t total = 0;
        for (uint32_t n; (n = readTransferRun(s, reinterpret_cast<uint8_t*>(got.data()) + total, 1000)) > 0;)
            total += n;
        EXPECT_EQ(lastError, errNone);
        closeTransfer(s);
        got.resize(total);
        return got;
    };
    // Exactly one buffer at the open, grown before the first read.
    EXPECT_EQ(readAll(transferBufferSize, [&] { std::ofstream(name, std::ios::binary | std::ios::app) << pattern(10, 22); }),
              pattern(transferBufferSize, 21) + pattern(10, 22));
    // Shrunk before the first read, and untouched.
    EXPECT_EQ(readAll(40000, [&] { std::filesystem::resize_file(name, 35000); }), pattern(35000, 21));
    EXPECT_EQ(readAll(4096, [] {}), pattern(4096, 21));
}

namespace {

// What the corpus records for one BinHex or MacBinary file.
struct CorpusEntry {
    std::string file;  // relative to the corpus folder
    std::string name, type, creator;
    uint32_t data = 0, rsrc = 0;
    bool valid = true;       // all checksums good
    bool notEncoded = false;  // not a file of that kind at all
};

std::string field(const std::string& line, const std::string& key)
{
    const size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return {};
    size_t start = at + key.size() + 2;
    if (line[start] == '\'') {
        const size_t end = line.find("' ", start + 1);
        return line.substr(start + 1, end - start - 1);
    }
    const size_t end = line.find(' ', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::vector<CorpusEntry> corpusEntries()
{
    std::string sources;
    std::vector<CorpusEntry> out;
    if (!readFile(corpusDir() + "/SOURCES.md", sources)) return out;
    std::string current;
    size_t pos = 0;
    while (pos < sources.size()) {
        size_t end = sources.find('\n', pos);
        if (end == std::string::npos) end = sources.size();
        const std::string line = sources.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("#### `", 0) == 0) {
            current = line.substr(6, line.find('`', 6) - 6);
            continue;
        }
        const bool hqx = line.find("hqxinfo.py:") != std::string::npos && current.rfind("hqx/", 0) == 0;
        const bool mb = line.rfind("mbinfo.py:", 0) == 0 && current.rfind("macbinary/", 0) == 0;
        if (!hqx && !mb) continue;
        CorpusEntry e;
        e.file = current;
        if (mb && line.find("NOT MacBinary") != std::string::npos) {
            e.notEncoded = true;
        } else {
            e.name = field(line, "name");
            e.type = field(line, "type");
            e.creator = field(line, "creator");
            e.data = static_cast<uint32_t>(std::stoul(field(line, "data")));
            e.rsrc = static_cast<uint32_t>(std::stoul(field(line, "rsrc")));
            e.valid = line.find("=False") == std::string::npos;
        }
        out.push_back(e);
        current.clear();
    }
    return out;
}

}  // namespace

TEST(Transfer, CorpusFilesUnpackToTheirRecordedForks)
{
    VERRIN_REQUIRE_PEER("hformat");
    VERRIN_REQUIRE_CORPUS();
    const std::vector<CorpusEntry> entries = corpusEntries();
    ASSERT_GE(entries.size(), 45u);
    World w;
    if (!makeHfsImage(w.dir, w.image, 4096, "Corpus")) return;
    ASSERT_TRUE(w.mount(true));
    for (const CorpusEntry& e : entries) {
        SCOPED_TRACE(e.file);
        const std::string path = corpusFile(w.dir, e.file);
        ASSERT_FALSE(path.empty());
        const bool hqx = e.file.rfind("hqx/", 0) == 0;
        // The reader takes a name in the current directory.
        const std::string local = std::filesystem::path(e.file).filename().string();
        std::filesystem::copy_file(path, w.pc(local), std::filesystem::copy_options::overwrite_existing);
        ASSERT_TRUE(enterFolder(2));
        if (hqx)
            binHexToMac(local.c_str(), 2);
        else
            macBinaryToMac(local.c_str(), 2);
        if (e.notEncoded || !e.valid) {
            EXPECT_EQ(lastError, e.notEncoded ? errWrongFileType : errDamagedFile);
            reportLastError();
            std::vector<CatalogItem> items;
            ASSERT_TRUE(listFolder(2, items));
            EXPECT_TRUE(items.empty());
            continue;
        }
        ASSERT_EQ(lastError, errNone) << errorText(lastError);
        std::vector<CatalogItem> items;
        ASSERT_TRUE(listFolder(2, items));
        ASSERT_EQ(items.size(), 1u);
        const CatalogItem& it = items[0];
        std::string expectedName = e.name;
        if (expectedName.empty()) expectedName = local.substr(0, local.size() - 4);  // named after the PC file
        EXPECT_EQ(macNameToUtf8(it.name), expectedName);
        EXPECT_EQ(macRomanToUtf8(it.finderInfo, 4), e.type);
        EXPECT_EQ(macRomanToUtf8(it.finderInfo + 4, 4), e.creator);
        EXPECT_EQ(it.dataLength, e.data);
        EXPECT_EQ(it.rsrcLength, e.rsrc);
        EXPECT_TRUE(checkLines().empty());
        flushVolume();
        // hfsutils reads the same forks back.
        w.unmount();
        std::string d, r;
        EXPECT_TRUE(w.macForks(std::string(reinterpret_cast<const char*>(it.name) + 1, it.name[0]), d, r));
        EXPECT_EQ(d.size(), e.data);
        EXPECT_EQ(r.size(), e.rsrc);
        ASSERT_TRUE(w.mount(true));
        deleteFile(it.name);
        flushVolume();
        ASSERT_EQ(lastError, errNone);
    }
}

// Every translation there and back on a blank diskette made by the classic
// Mac OS, with no peer programs, so that the PC side's file calls are
// exercised on every platform.
TEST(Transfer, EveryTranslationRoundTripsWithoutPeers)
{
    VERRIN_REQUIRE_CORPUS();
    World w;
    const std::string blank = corpusFile(w.dir, "hfs/gryphel_blanks__1440K.dsk");
    ASSERT_FALSE(blank.empty());
    std::filesystem::copy_file(blank, w.image);
    const std::string body = pattern(50000, 14) + "\r\n\r";
    const std::string rsrc = pattern(3000, 15);
    ASSERT_TRUE(writeFile(w.pc("two.bin"), macBinaryII("Two", "TEXT", "ttxt", 0, body, rsrc)));
    ASSERT_TRUE(w.mount(true));
    const char* extensions[] = {"", "txt", "rsr", "mb", "hqx"};
    for (int m = 0; m < translationSlots; ++m) setMacToPcDefault(static_cast<TranslationMode>(m), extensions[m]);
    macBinaryToMac("two.bin", 2);
    ASSERT_EQ(lastError, errNone) << errorText(lastError);
    for (const auto& writer : {dataFileToPc, textFileToPc, resourceFileToPc, macBinaryToPc, binHexToPc})
        writer(nameOf("Two").data(), 2);
    ASSERT_EQ(lastError, errNone) << errorText(lastError);

    // Back again; the names the encoded files carry clash with "Two".
    headless::scriptedNames = {{collisionOk, "data"}, {collisionOk, "mb"}, {collisionOk, "hqx"}};
    dataFileToMac("Two", 2);
    textFileToMac("Two.txt", 2);
    resourceFileToMac("Two.rsr", 2);
    macBinaryToMac("Two.mb", 2);
    binHexToMac("Two.hqx", 2);
    ASSERT_EQ(lastError, errNone) << errorText(lastError);
    EXPECT_TRUE(checkLines().empty());
    flushVolume();

    // There and back as text: each CR came back from CR LF, each LF (now a
    // lone LF on the PC) as CR too; Ctrl-Z is dropped.
    std::string text;
    for (const char c : body)
        if (c != '\x1a') text += c == '\n' ? '\r' : c;
    struct Expect {
        const char* name;
        std::string data, rsrc;
    };
    const Expect expected[] = {
        {"data", body, ""}, {"Two.txt", text, ""}, {"Two.rsr", "", rsrc}, {"mb", body, rsrc}, {"hqx", body, rsrc},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.name);
        std::string d, r;
        ASSERT_TRUE(readWholeFork(2, nameOf(e.name).data(), dataFork, d));
        ASSERT_TRUE(readWholeFork(2, nameOf(e.name).data(), resourceFork, r));
        EXPECT_EQ(d, e.data);
        EXPECT_EQ(r, e.rsrc);
    }
}
