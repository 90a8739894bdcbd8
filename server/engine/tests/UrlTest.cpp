#include "HTTPRequest.h"
#include "UrlCodec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct CleanCase {
    const char* url;
    const char* cleaned;
};

TEST(UrlTest, CleaningCollapsesSeparators)
{
    const CleanCase cases[] = {
        {"/x//y", "/x/y"},
        {"/x\\\\y", "/x/y"},
        {"/x\\/y", "/x/y"},
        {"/x/\\y", "/x/y"},
        {"a/b", "/a/b"},
        {"\\a", "//a"},
        {"", "/"},
        {"/", "/"},
        {"///", "/"},
        {"/x?y=1//2", "/x?y=1/2"},
        {"/a%20b.txt", "/a%20b.txt"},
        {"/%2e%2e/x", "/%2e%2e/x"},
        {"http://host/a", "/http:/host/a"},
    };
    for (const CleanCase& c : cases) {
        WString out;
        cleanRequestURL(c.url, out);
        EXPECT_STREQ(c.cleaned, out.getBuf()) << "url '" << c.url << "'";
        EXPECT_EQ(strlen(c.cleaned), out.length());
    }
}

TEST(UrlTest, LongUrlIsCleanedWhole)
{
    std::string url(10000, 'a');
    url = "/" + url + "//b";
    WString out;
    cleanRequestURL(url.c_str(), out);
    EXPECT_EQ(url.size() - 1, out.length());
}

TEST(UrlTest, ParentSegments)
{
    const struct {
        const char* path;
        bool parent;
    } cases[] = {
        {"/..", true},
        {"/../x", true},
        {"/a/../../x", true},
        {"/img/..", true},
        {"..", true},
        {"/a/..b", false},
        {"/a/b..", false},
        {"/...", false},
        {"/.", false},
        {"/a/./b", false},
        {"/", false},
        {"/%2e%2e/x", false},
        {"/a..b/c", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.parent, hasParentSegment(c.path)) << c.path;
}

TEST(UrlTest, HexDigits)
{
    const char* digits = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        unsigned char c = (unsigned char)digits[i];
        EXPECT_TRUE(HTTPRequest::hexDigitValue(c));
        EXPECT_EQ(i, c);
    }
    for (unsigned char bad : {'a', 'f', 'G', 'g', ' ', '%', '/'}) {
        unsigned char c = bad;
        EXPECT_FALSE(HTTPRequest::hexDigitValue(c));
        EXPECT_EQ(bad, c);
    }
}

std::string dump(HTTPRequest::Table& table)
{
    std::string out;
    while (table.hasMoreElements()) {
        out += table.currentKey();
        out += "->";
        out += table.currentValue();
        out += ";";
    }
    return out;
}

TEST(UrlTest, QueryDecoding)
{
    const struct {
        const char* query;
        bool ok;
        const char* pairs;
    } cases[] = {
        {"a=1&b=x%41y&c&=z&d=p+q", true, "a->1;b->xAy;c->;d->p q;"},
        {"k%3Dv=1", true, "k=v->1;"},
        {"a=b=c", true, "a->bc;"},
        {"a=%4", true, "a->;"},
        {"a=%", true, "a->;"},
        {"a=%4G", false, ""},
        {"a=%e9", false, ""},
        {"a=%G1", false, ""},
        {"name=J%C3%BC", true, "name->J\xC3\xBC;"},
        {"a=1&a=2&b=3", true, "a->2;b->3;"},
        {"", true, ""},
        {"&&", true, ""},
        {"=only", true, ""},
    };
    for (const auto& c : cases) {
        HTTPRequest::Table table;
        EXPECT_EQ(c.ok, HTTPRequest::parseQueryString(c.query, table)) << c.query;
        if (!c.ok) continue;
        EXPECT_EQ(c.pairs, dump(table)) << c.query;
    }
}

} // namespace
