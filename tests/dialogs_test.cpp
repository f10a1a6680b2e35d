// The dialogs' logic: the Mac file information questions and what Yes
// changes, the refusals that keep OK disabled or leave both items alone,
// creating an existing folder, and what the copy settings dialogs store.
#include <gtest/gtest.h>

#include <cstring>

#include "app/batch.h"
#include "app/dialogs.h"
#include "app/report.h"
#include "base/settings.h"
#include "base/ui_headless.h"
#include "hfs/hfs.h"
#include "support/desk.h"
#include "support/volumes.h"
#include "transfer/translation_table.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

const MacEntry& macEntryNamed(const char* name)
{
    const int i = findMacEntry(macName(name).data());
    EXPECT_GE(i, 0) << name;
    return macPane.entries.at(static_cast<size_t>(std::max(i, 0)));
}

}  // namespace

TEST(ItemDialogs, MacFileInformation)
{
    Desk desk;
    ASSERT_TRUE(desk.mountNew(1024));
    ASSERT_TRUE(writeTree(desk.pc, {{"Note", "n"}, {"Other", "o"}}));
    rebuildPcPane();
    setPcToMacDefault(DataFile, "TEXT", "ttxt");
    settings.pcUseMap = 0;
    headless::scriptedAnswers = {uiAnswerOk};
    copyPcToMac(pcSelection({"Note", "Other"}));
    relistMacFolder();

    const ItemInfo info = itemInfo(macEntryNamed("Note"));
    EXPECT_STREQ(info.title, "Mac File Information");
    EXPECT_EQ(info.type, "TEXT");
    EXPECT_EQ(info.size, "1 bytes");
    EXPECT_FALSE(macFileOkEnabled("Note", "TEX", "ttxt"));
    EXPECT_TRUE(macFileOkEnabled("Note", "TEXT", "ttxt"));

    struct Row {
        const char* what;
        const char* name;
        const char* type;
        const char* creator;
        int answer;
        const char* question;  // null: nothing asked
        int result;
        const char* storedName;
        const char* storedCreator;
    };
    const Row rows[] = {
        {"unchanged", "Note", "TEXT", "ttxt", uiAnswerYes, nullptr, 0, "Note", "ttxt"},
        {"creator alone", "Note", "TEXT", "R*ch", uiAnswerYes, "\nChange file creator?", 1, "Note", "R*ch"},
        {"said no", "Later", "TEXT", "ttxt", uiAnswerNo, "Rename this file?\nChange file creator?", 0, "Note", "R*ch"},
        {"accented name", "Caf\xE9", "TEXT", "R*ch", uiAnswerYes, "Rename this file?", 1, "Caf\x8E", "R*ch"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        headless::reset();
        headless::scriptedAnswers = {row.answer};
        EXPECT_EQ(macFileInfoOk(macEntryNamed("Note"), row.name, row.type, row.creator), row.result);
        if (row.question) {
            ASSERT_EQ(headless::shown.size(), 1u);
            EXPECT_EQ(headless::shown[0].text, row.question);
            EXPECT_EQ(headless::shown[0].caption, "Change Mac File Info");
            EXPECT_EQ(headless::shown[0].icon, uiIconQuestion);
        } else {
            EXPECT_TRUE(headless::shown.empty());
        }
        relistMacFolder();
        const MacEntry& after = macEntryNamed(row.storedName);
        EXPECT_EQ(std::memcmp(after.type, "TEXT", 4), 0);
        EXPECT_EQ(std::memcmp(after.creator, row.storedCreator, 4), 0);
    }

    // A name in use: the dialog says so, the error stays for the report,
    // and the report drops the type change made before the rename.
    headless::reset();
    headless::scriptedAnswers = {uiAnswerYes};
    EXPECT_EQ(macFileInfoOk(macEntryNamed("Caf\x8E"), "Other", "PICT", "R*ch"), 0);
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"Rename this file?\nChange file type?", "Could not change file info"}));
    EXPECT_EQ(lastError, errNameExists);
    reportLastError();
    relistMacFolder();
    EXPECT_EQ(std::memcmp(macEntryNamed("Caf\x8E").type, "TEXT", 4), 0);

    // Creating a folder whose name exists.
    EXPECT_EQ(createMacFolderOk("Other"), 1);
    EXPECT_EQ(lastError, errNameExists);
    lastError = errNone;
}

TEST(ItemDialogs, PcRenameAndCreate)
{
    Desk desk;
    ASSERT_TRUE(writeTree(desk.pc, {{"a.txt", "a"}, {"b.txt", "b"}}));
    rebuildPcPane();
    const PcEntry a = pcPane.entries[static_cast<size_t>(findPcEntry("a.txt"))];
    EXPECT_EQ(itemInfo(a).size, "1 bytes");
    struct Row {
        const char* name;
        int answer;
        int result;
        std::vector<std::string> texts;
    };
    const Row rows[] = {
        {"a.txt", uiAnswerYes, 0, {}},
        {"b.txt", uiAnswerYes, 0, {"Rename this file?", "Could not rename this file."}},
        {"sub/c.txt", uiAnswerYes, 0, {"Rename this file?", "Could not rename this file."}},
        {"c.txt", uiAnswerNo, 0, {"Rename this file?"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        headless::reset();
        headless::scriptedAnswers = {row.answer};
        EXPECT_EQ(pcItemInfoOk(a, row.name), row.result);
        EXPECT_EQ(shownTexts(), row.texts);
        EXPECT_EQ(lastError, errNone);
        EXPECT_EQ(readTree(desk.pc), (Tree{{"a.txt", "a"}, {"b.txt", "b"}}));
    }
    EXPECT_EQ(createPcDirectoryOk("a.txt"), 1);
    EXPECT_EQ(lastError, errPcCreate);
    lastError = errNone;
    EXPECT_EQ(createPcDirectoryOk("new"), 1);
    EXPECT_EQ(lastError, errNone);
}

TEST(CopySettings, WhatOkStores)
{
    Desk desk;
    // Two letters typed as the PC to Mac type of Text File: padded to four.
    CopySettingsForm pc = openCopySettings(false);
    chooseCopyTranslation(pc, false, TextFile);
    EXPECT_TRUE(pc.mapEnabled);
    pc.type = "ab";
    pc.creator = "";
    storeCopySettings(pc, false);
    EXPECT_EQ(settings.pcTrans, TextFile);
    EXPECT_STREQ(translationTable[TextFile].pcToMac.type, "ab  ");
    EXPECT_STREQ(translationTable[TextFile].pcToMac.creator, "    ");

    // MacBinary disables the map box but keeps its mark; an extension typed
    // for Resource File is lost when another translation is chosen.
    setMacToPcDefault(ResourceFile, "RSC");
    CopySettingsForm mac = openCopySettings(true);
    chooseCopyTranslation(mac, true, MacBinary);
    EXPECT_FALSE(mac.mapEnabled);
    EXPECT_TRUE(mac.useMap);
    chooseCopyTranslation(mac, true, ResourceFile);
    EXPECT_EQ(mac.extension, "RSC");
    mac.extension = "NEW";
    chooseCopyTranslation(mac, true, DataFile);
    mac.extension = "DAT";
    mac.filterExt = "textfile";
    storeCopySettings(mac, true);
    EXPECT_EQ(settings.macTrans, DataFile);
    EXPECT_STREQ(translationTable[ResourceFile].macToPc.extension, "RSC");
    EXPECT_STREQ(translationTable[DataFile].macToPc.extension, "DAT");
    EXPECT_EQ(settings.macFilterExt, "textf");
}
