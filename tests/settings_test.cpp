// Settings: the switch words, the quirks of "MaxIOBufSzK", "SCSIScan" and
// "WorkingDir", and saving that writes only what the program may change.
// Also the translation table's stored form.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "base/profile.h"
#include "base/settings.h"
#include "hfs/drive.h"
#include "support/peers.h"
#include "transfer/translation_table.h"

using namespace verrin;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

// Keeps the process-wide state these tests change.
struct SettingsTest : ::testing::Test {
    ScratchDir dir;
    std::string ini = dir.file("KVOL.INI");
    std::filesystem::path cwd = std::filesystem::current_path();
    Settings saved = settings;
    uint32_t savedLimit = maxIoBufSetting;

    void TearDown() override
    {
        std::filesystem::current_path(cwd);
        settings = saved;
        setTransferLimit(savedLimit);
        loadTranslationTable();  // with the restored (usually empty) path
    }
    // Loads the settings and derives the transfer limit, as program start does.
    void start()
    {
        loadSettings(ini);
        setTransferLimit(static_cast<uint32_t>(settings.maxIOBufSzK));
    }
    void load(const std::string& text)
    {
        ASSERT_TRUE(writeFile(ini, text));
        start();
    }
};

void noRoutine(const uint8_t*, uint32_t) {}
void noReader(const char*, uint32_t) {}

}  // namespace

TEST_F(SettingsTest, MissingFileGivesEveryDefault)
{
    start();
    EXPECT_EQ(settings.copyPrefs, 1);
    EXPECT_EQ(settings.savePrefs, 0);
    EXPECT_EQ(settings.autoRename, 0);
    EXPECT_EQ(settings.allowUpper, 0);
    EXPECT_EQ(settings.macUseMap, 1);
    EXPECT_EQ(settings.pcUseMap, 1);
    EXPECT_EQ(settings.hideInvisible, 1);
    EXPECT_EQ(settings.keepDate, 1);
    EXPECT_EQ(settings.maxIOBufSzK, 64);
    EXPECT_EQ(settings.scsiScan, 127);
    EXPECT_EQ(settings.addFloppy + settings.addCdrom + settings.addBios + settings.addAspi, 4);
    EXPECT_EQ(transferLimitBytes, 32768u);
    EXPECT_EQ(settings.ftmPath, dir.file("KVOL.FTM"));
    EXPECT_EQ(settings.helpPath, dir.file("VERRIN.HLP"));
    EXPECT_FALSE(testsupport::fileExists(ini));  // reading creates nothing
    EXPECT_EQ(companionPath("C:\\Program Files\\Verrin\\verrin.exe", "KVOL.INI"),
              "C:\\Program Files\\Verrin\\KVOL.INI");
    EXPECT_EQ(companionPath("verrin.exe", "KVOL.FTM"), "KVOL.FTM");
}

TEST_F(SettingsTest, SwitchWords)
{
    struct Case {
        const char* key;
        const char* text;
        int expected;  // with the default 5
    };
    ASSERT_TRUE(writeFile(ini, "[D]\n"));
    loadSettings(ini);
    for (const Case& c : {Case{"K", "no", 0}, Case{"K", "OFF", 0}, Case{"K", "Yes please", 1}, Case{"K", "y", 1},
                          Case{"K", "On", 1}, Case{"K", "auto", 1}, Case{"K", "", 5}, Case{"K", "offf", 5},
                          Case{"K", "old", 5}, Case{"K", "dos", 5}, Case{"AddFloppy", "old", 1},
                          Case{"AddFloppy", "BIOS", 2}, Case{"AddFloppy", "win", 5}, Case{"AddASPI", "dos", 2},
                          Case{"AddASPI", "win", 3}, Case{"AddASPI", "bios", 5}}) {
        ASSERT_TRUE(writeFile(ini, std::string("[D]\n") + c.key + "=" + c.text + "\n"));
        EXPECT_EQ(readSwitch("D", c.key, 5), c.expected) << c.key << "=" << c.text;
    }
    // Each switch is read from its own section with its own default.
    load("[Disk Prefs]\nAddCDROM=Off\n[Misc Prefs]\nHideInvisible=NO\n[Main Prefs]\nSavePrefs=auto\n"
         "CopyPrefs=no\nPCCopyFilter=Y\nHideInvisible=YES\n");
    EXPECT_EQ(settings.addCdrom, 0);
    EXPECT_EQ(settings.hideInvisible, 0);
    EXPECT_EQ(settings.savePrefs, 1);
    EXPECT_EQ(settings.copyPrefs, 0);
    EXPECT_EQ(settings.pcCopyFilter, 1);
}

TEST_F(SettingsTest, TransferSizeAndScsiMask)
{
    struct Case {
        const char* text;
        int kb;
        uint32_t bytes;
    };
    for (const Case& c : {Case{"8", 8, 8192}, Case{"2", 2, 4096}, Case{"0", 0, 4096}, Case{"128", 12, 12288},
                          Case{"x1", 64, 32768}, Case{"", 64, 32768}, Case{"33", 33, 32768}}) {
        load(std::string("[Misc Prefs]\nMaxIOBufSzK=") + c.text + "\n");
        EXPECT_EQ(settings.maxIOBufSzK, c.kb) << c.text;
        EXPECT_EQ(transferLimitBytes, c.bytes) << c.text;
        EXPECT_EQ(maxIoBufSetting, static_cast<uint32_t>(c.kb)) << c.text;
    }
    load("[Misc Prefs]\nSCSIScan=255\n");
    EXPECT_EQ(settings.scsiScan, 255);
    load("[Misc Prefs]\nSCSIScan=256\n");
    EXPECT_EQ(settings.scsiScan, 0);
    load("[Misc Prefs]\nSCSIScan=0x1FF\n");
    EXPECT_EQ(settings.scsiScan, 255);
}

TEST_F(SettingsTest, NumbersAndFilterTexts)
{
    load("[Main Prefs]\nMacTrans=4\nPCTrans=7\nMacSort=252abc\nPCSort=abc\n"
         "MacFilterType=TEXTX\nMacFilterCrtr=ttxt\nMacFilterExt=.html5\nPCFilterExt=html\n");
    EXPECT_EQ(settings.macTrans, 4);
    EXPECT_EQ(settings.pcTrans, 0);  // outside the five translations
    EXPECT_EQ(settings.macSort, 252);
    EXPECT_EQ(settings.pcSort, 0);
    EXPECT_EQ(settings.macFilterType, "TEXT");
    EXPECT_EQ(settings.macFilterCrtr, "ttxt");
    EXPECT_EQ(settings.macFilterExt, ".html");
    EXPECT_EQ(settings.pcFilterExt, "htm");
    load("[Main Prefs]\nMacTrans=-1\nPCTrans=123456\n");
    EXPECT_EQ(settings.macTrans, 0);
    EXPECT_EQ(settings.pcTrans, 0);
}

TEST_F(SettingsTest, WorkingDirectory)
{
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::current_path(dir.path);
    // A relative "WorkingDir" is taken from the directory current at start;
    // the settings file named relatively stays the same file afterwards.
    ASSERT_TRUE(writeFile(ini, "[Main Prefs]\nWorkingDir=sub\nCopyPrefs=NO\n"));
    loadSettings("KVOL.INI");
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(dir.file("sub")));
    EXPECT_EQ(settings.copyPrefs, 0);
    EXPECT_EQ(std::filesystem::path(settings.iniPath), std::filesystem::absolute(ini));

    // A missing directory is ignored.
    load("[Main Prefs]\nWorkingDir=" + dir.file("gone") + "\n");
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(dir.file("sub")));
#ifdef _WIN32
    // A drive letter: the drive changes first, then the directory.
    const std::string full = std::filesystem::canonical(dir.path).string();
    load("[Main Prefs]\nWorkingDir=" + full + "\n");
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(dir.path));
#endif
}

TEST_F(SettingsTest, SavingWithSavePrefsOffKeepsHandEdits)
{
    const std::string text = "; hand-written\r\n[Main Prefs]\r\nCopyPrefs=maybe\r\nSavePrefs=off\r\nMine=1\r\n\r\n"
                             "[Disk Prefs]\r\nAddASPI=win\r\n";
    load(text);
    settings.copyPrefs = 0;
    settings.macFilterType = "XXXX";
    saveSettings({1, 2, 251, 252}, translationTableEntries());
    std::string now;
    ASSERT_TRUE(readFile(ini, now));
    std::string expected = text;
    expected.replace(expected.find("SavePrefs=off"), 13, "SavePrefs=NO");
    EXPECT_EQ(now, expected);
}

TEST_F(SettingsTest, SavingWithSavePrefsOnRoundTrips)
{
    load("[Main Prefs]\r\nSavePrefs=YES\r\nMacTrans=1\r\nData File=<old>\r\n"
         "[Misc Prefs]\r\nMaxIOBufSzK=8\r\nSCSIScan=3\r\nHideInvisible=NO\r\n"
         "[Disk Prefs]\r\nAddASPI=dos\r\n");
    loadTranslationTable();
    settings.autoRename = 1;
    settings.keepDate = 0;
    settings.pcFilterExt = "TXT";
    settings.hideInvisible = 1;  // never written
    setMacToPcDefault(TextFile, "txt");
    setPcToMacDefault(TextFile, "TEXT", "ttxt");
    saveSettings({3, 4, 253, 254}, translationTableEntries());

    EXPECT_EQ(profile::readString(ini, mainPrefs, "MacTrans", "", 9), "3");  // the current choice
    EXPECT_EQ(profile::readString(ini, mainPrefs, "PCSort", "", 9), "254");
    EXPECT_EQ(profile::readString(ini, mainPrefs, "AutoRename", "", 9), "YES");
    EXPECT_EQ(profile::readString(ini, mainPrefs, "CopyPrefs", "", 9), "YES");
    EXPECT_EQ(profile::readString(ini, mainPrefs, "Text File", "", 20), "<TEXTttxttxt>");
    EXPECT_EQ(profile::readString(ini, mainPrefs, "Data File", "", 20), "<        >");
    EXPECT_EQ(profile::readString(ini, miscPrefs, "KeepDate", "", 9), "NO");
    EXPECT_EQ(profile::readString(ini, miscPrefs, "HideInvisible", "", 9), "NO");
    EXPECT_EQ(profile::readString(ini, miscPrefs, "MaxIOBufSzK", "", 9), "8");
    EXPECT_EQ(profile::readString(ini, diskPrefs, "AddASPI", "", 9), "dos");
    EXPECT_FALSE(profile::readString(ini, mainPrefs, "WorkingDir", "", 255).empty());

    loadSettings(ini);
    loadTranslationTable();
    EXPECT_EQ(settings.autoRename, 1);
    EXPECT_EQ(settings.keepDate, 0);
    EXPECT_EQ(settings.pcFilterExt, "TXT");
    EXPECT_EQ(settings.macTrans, 3);
    EXPECT_STREQ(translationTable[TextFile].macToPc.extension, "txt");
    EXPECT_STREQ(translationTable[TextFile].pcToMac.creator, "ttxt");
}

TEST_F(SettingsTest, TranslationTableStoredForm)
{
    load("[Main Prefs]\nText File=<TEXTttxt>\nResource File=<rsrcRSED>\nMacBinary=<TXT ttxtabcdefg>\n"
         "BinHex (HQX)=<ab>\n");
    installTranslationRoutines(MacBinary, noRoutine, noReader);
    loadTranslationTable();
    ASSERT_EQ(translationCount, 5);
    EXPECT_EQ(loadTranslationEntry("Extra", nullptr, nullptr), -1);  // five at most

    const TranslationSlot* t = translationTable;
    EXPECT_STREQ(t[DataFile].macToPc.name, "Data File");
    EXPECT_STREQ(t[DataFile].pcToMac.type, "    ");  // no key: spaces, no extension
    EXPECT_STREQ(t[DataFile].pcToMac.creator, "    ");
    EXPECT_STREQ(t[DataFile].macToPc.extension, "");
    EXPECT_STREQ(t[TextFile].pcToMac.type, "TEXT");
    EXPECT_STREQ(t[TextFile].pcToMac.creator, "ttxt");
    EXPECT_STREQ(t[TextFile].macToPc.extension, "");
    EXPECT_STREQ(t[ResourceFile].pcToMac.creator, "RSED");
    // Cut to 13 when read; the last kept character is dropped as the bracket.
    EXPECT_STREQ(t[MacBinary].pcToMac.type, "TXT ");
    EXPECT_STREQ(t[MacBinary].macToPc.extension, "abc");
    EXPECT_EQ(t[MacBinary].macToPc.routine, &noRoutine);
    EXPECT_EQ(t[MacBinary].pcToMac.routine, &noReader);
    installTranslationRoutines(MacBinary, nullptr, nullptr);
    EXPECT_EQ(t[MacBinary].macToPc.routine, nullptr);
    EXPECT_STREQ(t[BinHex].pcToMac.type, "    ");  // too short: spaces
    EXPECT_STREQ(t[BinHex].macToPc.name, "BinHex (HQX)");

    // Saving writes every translation in the stored form; type and creator
    // keep four characters so a short one cannot shift the rest.
    setPcToMacDefault(DataFile, "ab", "");
    setMacToPcDefault(DataFile, "bin");
    saveTranslationTable();
    EXPECT_EQ(profile::readString(ini, mainPrefs, "Data File", "", 20), "<ab      bin>");
    EXPECT_EQ(profile::readString(ini, mainPrefs, "BinHex (HQX)", "", 20), "<        >");
    EXPECT_EQ(profile::readString(ini, mainPrefs, "MacBinary", "", 20), "<TXT ttxtabc>");
    loadTranslationTable();
    EXPECT_STREQ(t[DataFile].pcToMac.type, "ab  ");
    EXPECT_STREQ(t[DataFile].macToPc.extension, "bin");
}
