#include <gtest/gtest.h>

#include "HttpDate.h"

// File times far in the future are possible (tmpfs keeps 64-bit times): the
// year is formatted in full instead of overflowing.
TEST(HttpDateTest, YearsBeyondTheIntRange)
{
    const struct {
        int64_t seconds;
        const char* text;
    } cases[] = {
        {1767225600LL, "Thu, 01 Jan 2026 00:00:00 GMT"}, {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
        {1000000000LL, "Sun, 09 Sep 2001 01:46:40 GMT"}, {-86400LL, "Wed, 31 Dec 1969 00:00:00 GMT"},
        {253402300799LL, "Fri, 31 Dec 9999 23:59:59 GMT"}, {253402300800LL, "Sat, 01 Jan 10000 00:00:00 GMT"},
        {67767976233532800LL, "Wed, 01 Jan 2147483648 00:00:00 GMT"},
        {67768036160140800LL, "Wed, 01 Jan 2147485547 00:00:00 GMT"},
        {67768036160140800LL + 86400LL * 365, "Thu, 01 Jan 1970 00:00:00 GMT"}, // past what a calendar date holds
    };
    for (const auto& c : cases) {
        WString out;
        formatHttpDate(c.seconds, out);
        EXPECT_STREQ(c.text, out.getBuf()) << c.seconds;
    }
}
