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
        {"/x?y=1//2", "/x?y=1//2"},
        {"/a//b?u=http://h/x\\\\y", "/a/b?u=http://h/x\\\\y"},
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
    // Either case (RFC 3986 2.1).
    const char* digits = "0123456789ABCDEFabcdef";
    for (int i = 0; i < 22; ++i) {
        unsigned char c = (unsigned char)digits[i];
        EXPECT_TRUE(hexDigitValue(c));
        EXPECT_EQ(i < 16 ? i : i - 6, c);
    }
    for (unsigned char bad : {'G', 'g', ' ', '%', '/', '@', '`'}) {
        unsigned char c = bad;
        EXPECT_FALSE(hexDigitValue(c));
        EXPECT_EQ(bad, c);
    }
}

TEST(UrlTest, PathDecoding)
{
    using D = UrlPathDecoding;
    const struct {
        const char* path;
        UrlPathDecoding result;
        const char* decoded;
    } cases[] = {
        {"/sp%20ace.jpg", D::Decoded, "/sp ace.jpg"},
        {"/Caf%C3%A9.jpg", D::Decoded, "/Caf\xC3\xA9.jpg"},
        {"/caf%c3%a9.jpg", D::Decoded, "/caf\xC3\xA9.jpg"},
        {"/a%2Bb.jpg", D::Decoded, "/a+b.jpg"},
        {"/a+b", D::Decoded, "/a+b"},
        {"/conf%2ephp", D::Decoded, "/conf.php"},
        {"/conf.ph%70", D::Decoded, "/conf.php"},
        {"/q%3Fx%23y", D::Decoded, "/q?x#y"},
        {"/%2e%2e%2e/x", D::Decoded, "/.../x"},
        {"/%2e/x", D::Decoded, "/./x"},
        {"/%2e%2e/x", D::BadPath, ""},
        {"/a/.%2E", D::BadPath, ""},
        {"/%2E./x", D::BadPath, ""},
        {"/a%2Fb", D::BadPath, ""},
        {"/a%2fb", D::BadPath, ""},
        {"/a%5Cb", D::BadPath, ""},
        {"/a%5c..%5cb", D::BadPath, ""},
        {"/a%00b", D::BadPath, ""},
        {"/a%", D::BadEscape, ""},
        {"/a%4", D::BadEscape, ""},
        {"/a%4G", D::BadEscape, ""},
        {"/a%%41", D::BadEscape, ""},
    };
    for (const auto& c : cases) {
        WString out;
        EXPECT_EQ(c.result, decodeUrlPath(c.path, out)) << c.path;
        if (c.result == D::Decoded) {
            EXPECT_STREQ(c.decoded, out.getBuf()) << c.path;
        }
    }
}

} // namespace
