#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "WException.h"
#include "WMemory.h"
#include "WResources.h"
#include "WString.h"

// Huge allocations here are deliberate: the library must see the failure and
// throw its memory exception, so the sanitizers' allocators answer null
// instead of ending the program.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif

TEST(StringBuffer, EmptyStringsShareNoBlock)
{
    WString a;
    WString b("");
    EXPECT_EQ(a.length(), 0u);
    EXPECT_EQ(a.getBufLength(), 1u);
    EXPECT_EQ(b.getBufLength(), 1u);
    EXPECT_EQ(a.getBuf(), b.getBuf()); // the one shared empty buffer
    WString c("abc");
    c = "";
    EXPECT_EQ(c.getBufLength(), 4u) << "assigning \"\" keeps the block";
    EXPECT_STREQ(c.getBuf(), "");
}

TEST(StringBuffer, GrowthIsExactFit)
{
    WString s;
    s.append("b");
    EXPECT_EQ(s.getBufLength(), 2u);
    s.append("b");
    EXPECT_EQ(s.getBufLength(), 3u);
    s += "b";
    EXPECT_EQ(s.getBufLength(), 4u);

    WString h("hello");
    h.resize(3);
    EXPECT_STREQ(h.getBuf(), "hel");
    EXPECT_EQ(h.getBufLength(), 4u);
    h.resize(10);
    EXPECT_STREQ(h.getBuf(), "hel");
    EXPECT_EQ(h.getBufLength(), 11u);
    h.clear();
    EXPECT_EQ(h.getBufLength(), 1u);

    WString sum = WString("ab") + "cde";
    EXPECT_EQ(sum.getBufLength(), 6u);
    EXPECT_STREQ((WString("x") + WString("y")).getBuf(), "xy");
    EXPECT_STREQ(("x" + WString("y")).getBuf(), "xy");
}

TEST(StringBuffer, SelfAppendAndSelfAssignFromInside)
{
    WString s("abc");
    s.append(s);
    EXPECT_STREQ(s.getBuf(), "abcabc");
    s.assign(s.getBuf() + 3, 3ul);
    EXPECT_STREQ(s.getBuf(), "abc");
    WString big("0123456789");
    big.append(big).append(big);
    EXPECT_EQ(big.length(), 40u);
}

TEST(StringOps, TrimKeepsLineFeedAtTheEnd)
{
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {" \t a b \r\n", "a b \r\n"},
        {"  \r ", ""},
        {"x", "x"},
        {" x ", "x"},
        {"\tkey = v\r", "key = v"},
    };
    for (auto& c : cases) {
        WString s(c.in);
        s.trim();
        EXPECT_STREQ(s.getBuf(), c.out) << "input: " << c.in;
        EXPECT_EQ(s.length(), strlen(c.out));
    }
}

TEST(StringOps, Split)
{
    WString l("L"), r("R");
    EXPECT_TRUE(WString(" key = value ").split("=", l, r, true));
    EXPECT_STREQ(l, "key");
    EXPECT_STREQ(r, "value");
    EXPECT_TRUE(WString("=x").split("=", l, r, true));
    EXPECT_STREQ(l, "");
    EXPECT_STREQ(r, "x");
    EXPECT_TRUE(WString("x=").split("=", l, r, true));
    EXPECT_STREQ(l, "x");
    EXPECT_STREQ(r, "");
    l = "keep";
    r = "this";
    EXPECT_FALSE(WString("x").split("=", l, r, true));
    EXPECT_STREQ(l, "keep");
    EXPECT_STREQ(r, "this");
    EXPECT_TRUE(WString("a::b::c").split("::", l, r, false));
    EXPECT_STREQ(l, "a");
    EXPECT_STREQ(r, "b::c");
    WString self("a=b");
    EXPECT_TRUE(self.split("=", self, r, false));
    EXPECT_STREQ(self, "a");
    EXPECT_STREQ(r, "b");
    WString other("c=d");
    EXPECT_TRUE(other.split("=", l, other, false));
    EXPECT_STREQ(l, "c");
    EXPECT_STREQ(other, "d");
    WString both("e=f");
    EXPECT_TRUE(both.split("=", l, l, false)); // one target for both parts: the right part wins
    EXPECT_STREQ(l, "f");
    // Parts longer than what the targets held before grow them.
    l = "x";
    r = "y";
    EXPECT_TRUE(WString((std::string(300, 'k') + "=" + std::string(500, 'v')).c_str()).split("=", l, r, false));
    EXPECT_EQ(l.length(), 300ul);
    EXPECT_EQ(r.length(), 500ul);
}

TEST(StringOps, AppendingPieceByPieceKeepsEveryByte)
{
    WString s;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        char piece[8];
        snprintf(piece, sizeof piece, "%d,", i % 97);
        s.append(piece);
        expected += piece;
    }
    // A piece of the string itself, appended while it may move.
    s.append(reinterpret_cast<const unsigned char*>(s.getBuf()) + 2, 3);
    expected += expected.substr(2, 3);
    ASSERT_EQ(s.length(), expected.size());
    EXPECT_EQ(std::string(s.getBuf()), expected);
}

TEST(StringOps, SearchAndBounds)
{
    WString out("x");
    WString("abcdef").substring(2, 4, out);
    EXPECT_STREQ(out, "cd");
    WString("abcdef").substring(6, out);
    EXPECT_STREQ(out, "");
    WString("abcdef").substring(1, 7, out);
    EXPECT_STREQ(out, "");
    WString("abcdef").substring(3, out);
    EXPECT_STREQ(out, "def");

    EXPECT_EQ(WString("abca").lastIndexOf('a'), 3);
    EXPECT_EQ(WString("abc").lastIndexOf('a'), 0);
    EXPECT_EQ(WString("").lastIndexOf('a'), -1);
    EXPECT_EQ(WString("abc").indexOf(""), 0);
    EXPECT_EQ(WString("abcbc").indexOf("bc"), 1);
    EXPECT_EQ(WString("abc").indexOf("x"), -1);

    WString umlaut("a\xE4");
    EXPECT_EQ(umlaut.charAt(1), -28);
    EXPECT_EQ(umlaut.charAt(2), -1);
    EXPECT_EQ(umlaut[0], 'a');

    EXPECT_TRUE(WString("abc").startsWith(""));
    EXPECT_TRUE(WString("abc").startsWith("ab"));
    EXPECT_FALSE(WString("ab").startsWith("abc"));
    EXPECT_TRUE(WString("").startsWith(0));
    EXPECT_TRUE(WString("/x").startsWith('/'));
}

TEST(StringOps, EmbeddedNulSeenByLengthOperationsOnly)
{
    WString a("a\0b", 3ul), b("a\0c", 3ul);
    EXPECT_FALSE(a.equals(b));
    EXPECT_FALSE(a == b);
    EXPECT_EQ(a.compare(b), 0);
    EXPECT_TRUE(a.equals("a"));
    EXPECT_EQ(WString("b").compare("a"), 1);
    EXPECT_EQ(WString("\xE4").compare("a"), 1) << "bytes compare unsigned";
}

TEST(StringOps, InPlaceChanges)
{
    WString s("a-b-c");
    s.replace('-', '/');
    EXPECT_STREQ(s, "a/b/c");
    s.toUpperCase();
    EXPECT_STREQ(s, "A/B/C");
    s.toLowerCase();
    EXPECT_STREQ(s, "a/b/c");
    s.fill('z');
    EXPECT_STREQ(s, "zzzzz");
    s.truncate(2);
    EXPECT_STREQ(s, "zz");
    EXPECT_EQ(s.length(), 2u);
}

TEST(FormattedString, BoundedFormatting)
{
    std::string t(2000, 'x');
    WFormattedString f("%s", t.c_str());
    EXPECT_EQ(f.length(), 1024u);
    EXPECT_EQ(f.getBufLength(), 1025u);

    WFormattedString small(4ul);
    small.format("%d", 123456);
    EXPECT_STREQ(small, "1234");
    EXPECT_EQ(small.length(), 4u);

    WNumberString neg(-5, "%d");
    EXPECT_STREQ(neg, "-5");
    EXPECT_EQ(neg.getNumberType(), WNumberString::TYPE_INT);
    WNumberString pad(5ul, "%08lu");
    EXPECT_STREQ(pad, "00000005");
    EXPECT_EQ(pad.getNumberType(), WNumberString::TYPE_UNSIGNED_LONG);
    EXPECT_EQ(pad.getBufLength(), 129u);
}

TEST(ResourceString, LoadsRegisteredTextsOnly)
{
    static const WStringResource table[] = {{4711, "Hello resource"}};
    WResources::registerStrings(table, 1);
    WResourceString r;
    r.loadResource(4711);
    EXPECT_STREQ(r, "Hello resource");
    r = 4712ul;
    EXPECT_STREQ(r, "");
    EXPECT_EQ(r.getBufLength(), 1u);
}

TEST(Memory, ExhaustedHeapThrowsAndLeavesStringUnchanged)
{
    WString s("keep");
    try {
        s.resize(1ul << 62);
        FAIL() << "no exception";
    } catch (WMemoryException& e) {
        EXPECT_EQ(e.getId(), -2);
        EXPECT_STREQ(e.getMessage(), "Out of memory. Cannot realloc 4611686018427387905 bytes.");
    }
    EXPECT_STREQ(s, "keep");
    EXPECT_EQ(s.getBufLength(), 5u);
    EXPECT_THROW(WMemory::allocMemory(1ul << 62), WMemoryException);
}

// Sizes whose buffer (text plus NUL) would wrap around: refused with the
// memory exception before the string changes.
TEST(Memory, SizesThatWrapAroundAreRefused)
{
    struct Case {
        const char* name;
        void (*grow)(WString&);
    };
    static const char data[] = "xyz";
    const Case cases[] = {
        {"resize", [](WString& s) { s.resize(ULONG_MAX); }},
        {"assign", [](WString& s) { s.assign(data, ULONG_MAX); }},
        {"assign unsigned", [](WString& s) { s.assign((const unsigned char*)data, ULONG_MAX); }},
        {"append", [](WString& s) { s.append((const unsigned char*)data, ULONG_MAX); }},
        {"append to length", [](WString& s) { s.append((const unsigned char*)data, ULONG_MAX - 2); }},
        {"construct", [](WString& s) { s = WString(data, ULONG_MAX); }},
    };
    for (const Case& c : cases) {
        for (const char* start : {"keep", ""}) {
            SCOPED_TRACE(std::string(c.name) + " on \"" + start + "\"");
            WString s(start);
            unsigned long bufLength = s.getBufLength();
            try {
                c.grow(s);
                ADD_FAILURE() << "no exception";
            } catch (WMemoryException& e) {
                EXPECT_EQ(e.getId(), -2);
                EXPECT_TRUE(WString(e.getMessage()).startsWith("Out of memory. Cannot alloc "));
            }
            EXPECT_STREQ(s, start);
            EXPECT_EQ(s.getBufLength(), bufLength);
        }
    }
    // The shared empty buffer still holds nothing but its NUL.
    EXPECT_STREQ(WString().getBuf(), "");
    EXPECT_EQ(WString().getBufLength(), 1u);
}
