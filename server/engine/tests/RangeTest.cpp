#include "ByteRange.h"
#include "HtmlEscape.h"
#include "HttpDate.h"

#include <gtest/gtest.h>

namespace {

TEST(RangeTest, RangeHeaderValues)
{
    using Kind = ByteRangeSpec::Kind;
    const uint64_t open = UINT64_MAX;
    const struct {
        const char* value;
        Kind kind;
        uint64_t first;
        uint64_t last;
    } cases[] = {
        {"bytes=100-199", Kind::Span, 100, 199},
        {"bytes=100-", Kind::Span, 100, open},
        {"bytes=0-0", Kind::Span, 0, 0},
        {"BYTES = 5-6", Kind::Span, 5, 6},
        {"bytes=-500", Kind::Suffix, 500, open},
        {"bytes=1-2, 5-6", Kind::Span, 1, 2},
        {"bytes=-5 ,1-2", Kind::Suffix, 5, open},
        {"bytes=5000000000-6000000000", Kind::Span, 5000000000ull, 6000000000ull},
        {"bytes=99999999999999999999999-", Kind::Span, UINT64_MAX, open},
        {"items=1-2", Kind::None, 0, open},
        {"bytes", Kind::None, 0, open},
        {"bytes=", Kind::None, 0, open},
        {"bytes=-", Kind::None, 0, open},
        {"bytes=x-5", Kind::None, 0, open},
        {"bytes=7", Kind::None, 0, open},
        {"bytes=5-0", Kind::None, 0, open},
        {"bytes=+5-6", Kind::None, 0, open},
        {"bytes=1-2x", Kind::None, 0, open},
        {"bytes=--5", Kind::None, 0, open},
    };
    for (const auto& c : cases) {
        ByteRangeSpec spec = parseRangeHeader(c.value);
        EXPECT_EQ(c.kind, spec.kind) << c.value;
        if (c.kind == Kind::None) continue;
        EXPECT_EQ(c.first, spec.first) << c.value;
        EXPECT_EQ(c.last, spec.last) << c.value;
    }
}

TEST(RangeTest, SettlingAgainstTheSize)
{
    // The end-to-end cases are in StaticFileTest; here the 64-bit arithmetic
    // and the edges of the size.
    using Outcome = ByteRangePlan::Outcome;
    ByteRangePlan plan = settleByteRange(6ull << 30, parseRangeHeader("bytes=5368709120-"));
    EXPECT_EQ(Outcome::Part, plan.outcome);
    EXPECT_EQ(5ull << 30, plan.first);
    EXPECT_EQ((6ull << 30) - 1, plan.last);
    EXPECT_EQ(1ull << 30, plan.count);
    plan = settleByteRange(1000, parseRangeHeader("bytes=-18446744073709551615"));
    EXPECT_EQ(Outcome::Part, plan.outcome);
    EXPECT_EQ(0u, plan.first);
    EXPECT_EQ(1000u, plan.count);
    EXPECT_EQ(Outcome::Unsatisfiable, settleByteRange(1000, parseRangeHeader("bytes=18446744073709551615-")).outcome);
    EXPECT_EQ(Outcome::Unsatisfiable, settleByteRange(0, parseRangeHeader("bytes=0-0")).outcome);
    EXPECT_EQ(Outcome::Whole, settleByteRange(0, parseRangeHeader("bytes=-1")).outcome);
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
