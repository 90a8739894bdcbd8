#include "MimeTypeMap.h"

#include "ServerTestSupport.h"
#include "WException.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class MimeTypeMapTest : public ::testing::Test {
protected:
    std::string write(const std::string& text)
    {
        folder.write("mime.txt", text);
        return folder.path("mime.txt");
    }

    servertest::TempFolder folder;
    const std::string dir = folder.root;
};

TEST_F(MimeTypeMapTest, LineRules)
{
    MimeTypeMap map(write("  image/jpeg\tjpg  jpeg jpe\r\n"
                          "# text/html htm\n"
                          "text/x-note #x\n"
                          "text/css\n"
                          "text/html HTM html\n"
                          "\n"
                          "\t\n"
                          "text/plain txt\n"
                          "application/octet-stream txt\n"
                          "application/json json")
                        .c_str());
    const struct {
        const char* ext;
        const char* type;
    } cases[] = {
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"jpe", "image/jpeg"},
        {"#x", "text/x-note"},
        {"htm", "text/plain"},
        {"HTM", "text/html"},
        {"html", "text/html"},
        {"css", "text/plain"},
        {"txt", "application/octet-stream"},
        {"json", "application/json"},
        {"", "text/plain"},
        {"JPG", "text/plain"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.type, map.getMimeType(c.ext)) << c.ext;
}

TEST_F(MimeTypeMapTest, EmptyFileAndDefault)
{
    MimeTypeMap map(write("").c_str());
    EXPECT_STREQ("text/plain", map.getMimeType("html"));
    EXPECT_STREQ("text/plain", map.getMimeType(""));
    map.setDefaultType("application/octet-stream");
    EXPECT_STREQ("application/octet-stream", map.getMimeType("x"));
}

TEST_F(MimeTypeMapTest, MissingFileThrowsAndKeepsTable)
{
    MimeTypeMap map(write("text/html html").c_str());
    try {
        map.load((dir + "/nothere.txt").c_str());
        FAIL() << "no exception";
    } catch (WFileNotFoundException& e) {
        EXPECT_EQ("File not found: " + dir + "/nothere.txt", std::string(e.getMessage().getBuf()));
    }
    EXPECT_STREQ("text/html", map.getMimeType("html"));
}

TEST_F(MimeTypeMapTest, ReloadReplacesTable)
{
    MimeTypeMap map(write("text/html html").c_str());
    map.load(write("text/css css").c_str());
    EXPECT_STREQ("text/plain", map.getMimeType("html"));
    EXPECT_STREQ("text/css", map.getMimeType("css"));
}

TEST_F(MimeTypeMapTest, ShippedFileMapsCommonTypes)
{
    const char* source = getenv("ZV_SOURCE_DIR");
    if (!source) GTEST_SKIP() << "ZV_SOURCE_DIR not set";
    std::string path = std::string(source) + "/cfg/mime.txt";
    if (access(path.c_str(), R_OK) != 0) GTEST_SKIP() << "no cfg/mime.txt";
    MimeTypeMap map(path.c_str());
    EXPECT_STREQ("text/html", map.getMimeType("html"));
    EXPECT_STREQ("image/avif", map.getMimeType("avif"));
    EXPECT_STREQ("text/plain", map.getMimeType("php"));
}

} // namespace
