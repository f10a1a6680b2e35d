// The error table: fixed texts, and "Misc error: N" for codes without a row.
#include <gtest/gtest.h>

#include "base/errors.h"

using namespace verrin;

TEST(ErrorTable, MessagesAndMiscFallback)
{
    EXPECT_STREQ(errorText(errMacDiskFull), "Mac disk ran out of room");
    EXPECT_STREQ(errorText(errBadNode),
                 "Error Locating Node. Disk may be corrupt. (Use a disk diagnostic on the Mac.)");
    EXPECT_STREQ(errorText(12), "Misc error: 12");
    EXPECT_STREQ(errorText(errCancelled), "");
    EXPECT_EQ(errorMessage(errCancelled), nullptr);
}
