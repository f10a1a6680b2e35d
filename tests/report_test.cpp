// Error reporting at the end of a command: one message (none when
// cancelled), the word cleared, unflushed volume changes dropped, and the
// Mac side closed when the drive is gone or cannot be read back.
#include <gtest/gtest.h>

#include <string>

#include "app/report.h"
#include "base/ui_headless.h"
#include "hfs/hfs.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

size_t shownWhenClosed = 99;
void recordClose()
{
    shownWhenClosed = headless::shown.size();
    closeVolume();
}

struct MountedVolume {
    ScratchDir dir;
    bool ok = false;
    MountedVolume()
    {
        // A copy of a blank diskette from the corpus, written to freely.
        std::string bytes;
        const std::string blank = corpusFile(dir, "hfs/gryphel_blanks__800K.dsk");
        if (blank.empty() || !readFile(blank, bytes) || !writeFile(dir.file("v.img"), bytes)) return;
        ok = openImage(dir.file("v.img"), true) >= 0 && mountAt(0);
    }
    ~MountedVolume() { closeAll(); }
};

// Dirties sector 100 of the volume; returns its original bytes.
std::string dirtySector(CacheBuffer*& b)
{
    b = getVolumeSector(100);
    if (!b) return {};
    std::string before(reinterpret_cast<char*>(b->data), 512);
    fillBytes(0x5A, b, 0, 512);
    return before;
}

}  // namespace

TEST(ErrorReport, MessagesAndRevert)
{
    VERRIN_REQUIRE_CORPUS();
    MountedVolume v;
    ASSERT_TRUE(v.ok);
    headless::reset();

    // Nothing pending: nothing shown, the cache left alone.
    CacheBuffer* b = nullptr;
    std::string before = dirtySector(b);
    ASSERT_NE(b, nullptr);
    reportLastError();
    EXPECT_TRUE(headless::shown.empty());
    EXPECT_TRUE(b->flags & bufDirty);

    // A failure: its message with a warning icon and the default caption,
    // then the unflushed change is gone.
    lastError = errMacWrite;
    reportLastError();
    ASSERT_EQ(headless::shown.size(), 1u);
    EXPECT_EQ(headless::shown[0].text, "Error writing to Mac disk");
    EXPECT_EQ(headless::shown[0].caption, "");
    EXPECT_EQ(headless::shown[0].icon, uiIconWarning);
    EXPECT_EQ(headless::shown[0].buttons, uiOk);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b->data), 512), before);
    EXPECT_FALSE(b->flags & bufDirty);

    // Cancelled: silent, but the changes are dropped all the same.
    headless::reset();
    dirtySector(b);
    lastError = errCancelled;
    reportLastError();
    EXPECT_TRUE(headless::shown.empty());
    EXPECT_FALSE(b->flags & bufDirty);
    EXPECT_EQ(lastError, errNone);

    // A code without a row of its own.
    lastError = 12;
    reportLastError();
    ASSERT_EQ(headless::shown.size(), 1u);
    EXPECT_EQ(headless::shown[0].text, "Misc error: 12");
    EXPECT_TRUE(volume.mounted);
}

TEST(ErrorReport, DriveNotReadyClosesTheMacSideFirst)
{
    VERRIN_REQUIRE_CORPUS();
    MountedVolume v;
    ASSERT_TRUE(v.ok);
    headless::reset();
    setCloseMacSide(recordClose);
    shownWhenClosed = 99;
    lastError = errDriveNotReady;
    reportLastError();
    setCloseMacSide(nullptr);
    EXPECT_EQ(shownWhenClosed, 0u);  // closed before the message
    ASSERT_EQ(headless::shown.size(), 1u);
    EXPECT_EQ(headless::shown[0].text, "Drive not ready (check media)");
    EXPECT_FALSE(volume.mounted);
    EXPECT_EQ(cacheSize(), 0u);
    EXPECT_EQ(lastError, errNone);
}

TEST(ErrorReport, FailedRevertClosesTheMacSideSilently)
{
    VERRIN_REQUIRE_CORPUS();
    MountedVolume v;
    ASSERT_TRUE(v.ok);
    headless::reset();
    // A dirty buffer for a sector the image does not have: it cannot be
    // read back.
    CacheBuffer* b = getSector(100000, 0);
    ASSERT_NE(b, nullptr);
    fillBytes(1, b, 0, 16);
    lastError = errMacDiskFull;
    reportLastError();
    ASSERT_EQ(headless::shown.size(), 1u);  // only the original failure
    EXPECT_EQ(headless::shown[0].text, "Mac disk ran out of room");
    EXPECT_EQ(lastError, errNone);
    EXPECT_FALSE(volume.mounted);
    EXPECT_EQ(cacheSize(), 0u);
}
