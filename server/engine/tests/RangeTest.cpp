#include "ByteRange.h"
#include "HtmlEscape.h"
#include "HttpDate.h"

#include <gtest/gtest.h>

namespace {

TEST(RangeTest, RangeHeaderValues)
{
    const uint64_t huge500 = (uint64_t)0 - 500;
    const struct {
        const char* value;
        uint64_t first;
        uint64_t last;
    } cases[] = {
        {"bytes=100-199", 100, 199},
        {"bytes=100-", 100, 0},
        {"bytes=0-0", 0, 0},
        {"BYTES = 5-6", 5, 6},
        {"items=1-2", 0, 0},
        {"bytes", 0, 0},
        {"bytes=-500", huge500, 0},
        {"bytes=1-2, 5-6", 1, 2},
        {"bytes=x-5", 0, 0},
        {"bytes=7", 7, 0},
        {"bytes=5000000000-6000000000", 5000000000ull, 6000000000ull},
        {"bytes=99999999999999999999999-", UINT64_MAX, 0},
    };
    for (const auto& c : cases) {
        uint64_t first = 1, last = 1;
        parseRangeHeader(c.value, first, last);
        EXPECT_EQ(c.first, first) << c.value;
        EXPECT_EQ(c.last, last) << c.value;
    }
}

TEST(RangeTest, SettlingAgainstTheSize)
{
    // The end-to-end cases are in StaticFileTest; here the 64-bit arithmetic.
    ByteRangePlan plan = settleByteRange(6ull << 30, 5ull << 30, 0, true);
    EXPECT_TRUE(plan.ranged);
    EXPECT_EQ(5ull << 30, plan.first);
    EXPECT_EQ((6ull << 30) - 1, plan.last);
    EXPECT_EQ(1ull << 30, plan.count);
    plan = settleByteRange(1000, (uint64_t)0 - 500, 0, true);
    EXPECT_FALSE(plan.ranged);
    EXPECT_EQ(1000u, plan.count);
    EXPECT_FALSE(settleByteRange(0, 0, 0, true).ranged);
}

TEST(RangeTest, HttpDates)
{
    const struct {
        int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
        {1803891903, "Mon, 01 Mar 2027 09:05:03 GMT"},
        {1796685388, "Mon, 07 Dec 2026 23:16:28 GMT"},
        {-86400, "Wed, 31 Dec 1969 00:00:00 GMT"},
        {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
    };
    for (const auto& c : cases) {
        WString out;
        formatHttpDate(c.seconds, out);
        EXPECT_STREQ(c.text, out.getBuf()) << c.seconds;
    }
}

TEST(RangeTest, HtmlEscaping)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Unknown HTTP method 'PATCH'", "Unknown HTTP method 'PATCH'"},
        {"/a<script>&\"x\"", "/a&lt;script&gt;&amp;&quot;x&quot;"},
        {"", ""},
        {"&", "&amp;"},
    };
    for (const auto& c : cases) {
        WString out("pre:");
        appendHtmlEscaped(out, c.in);
        EXPECT_STREQ((std::string("pre:") + c.out).c_str(), out.getBuf());
    }
}

} // namespace
