#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "WException.h"

TEST(Exception, TextForm)
{
    EXPECT_STREQ(WException("x").toString(), "WException: x (id=0, syserr=00000000h)");
    errno = 104;
    WSocketException e("Cannot write into socket.", -3);
    EXPECT_STREQ(e.toString(), "WSocketException: Cannot write into socket. (id=-3, syserr=00000068h)");
    WSocketException copy(e);
    EXPECT_EQ(copy.getSysErrCode(), 0u) << "a copy drops the system error code";
    WSocketException assigned("y", 1);
    assigned = e;
    EXPECT_EQ(assigned.getSysErrCode(), 104u);
    EXPECT_STREQ(assigned.getName(), "WSocketException");
}

TEST(Exception, ChainingKeepsCauseCode)
{
    errno = 0x26;
    WFileException cause("Cannot read file.", -4);
    WException outer(cause, "Loading failed", 7);
    EXPECT_STREQ(
        outer.getMessage(), "WFileException: Cannot read file. (id=-4, syserr=00000026h)\r\n   ->Loading failed");
    EXPECT_EQ(outer.getId(), 7);
    EXPECT_EQ(outer.getSysErrCode(), 0x26u);
    WException twice(outer, "again", 8);
    std::string m = twice.getMessage().getBuf();
    size_t joints = 0;
    for (size_t at = m.find("\r\n   ->"); at != std::string::npos; at = m.find("\r\n   ->", at + 1))
        ++joints;
    EXPECT_EQ(joints, 2u);
    EXPECT_EQ(twice.getSysErrCode(), 0x26u);
}

TEST(Exception, LongMessageCutOnlyInTextForm)
{
    std::string longText(2000, 'm');
    errno = 2;
    WFileException e(longText.c_str(), -2);
    EXPECT_EQ(e.getMessage().length(), 2000u);
    EXPECT_FALSE(e.getUserMessage().length() == 0);
    EXPECT_EQ(e.toString().length(), 1024u) << "complete whatever was asked before";
}

TEST(Exception, UserMessages)
{
    errno = 0;
    WSystemException ok("x");
    EXPECT_STREQ(ok.getUserMessage(), "Success");
    errno = 99999;
    WSystemException unknown("x");
    EXPECT_STREQ(unknown.getUserMessage(), "");
}

TEST(Exception, FamiliesAreFlat)
{
    bool caughtAsFile = false;
    try {
        throw WEOFException("End of file reached.");
    } catch (WFileException&) {
        caughtAsFile = true;
    } catch (WException& e) {
        EXPECT_STREQ(e.getName(), "WEOFException");
        EXPECT_EQ(e.getId(), -1);
    }
    EXPECT_FALSE(caughtAsFile);

    errno = 5;
    EXPECT_EQ(WRepositoryFileException("r").getSysErrCode(), 0u);
    EXPECT_EQ(WMP3FileException("m", -1).getSysErrCode(), 0u);
    EXPECT_EQ(WDirectXException("d", 0x887601C2L).getSysErrCode(), 0x887601C2u);
    WSQLException sql("line1\nline2", -7);
    EXPECT_STREQ(sql.getMessage(), "line1 line2");
    EXPECT_EQ(sql.getSysErrCode(), 0u);
}
