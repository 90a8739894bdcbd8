// The routing tables: how configuration lines become entries, which lines are
// refused, and the matching rules of virtual directories, interpreter keys
// and file names.

#include "PathResolver.h"
#include "RequestRouter.h"
#include "RoutingTables.h"
#include "ServerTestSupport.h"

#include <unistd.h>

#include <string>

using namespace servertest;

TEST(RoutingTablesTest, VirtualDirectoryLines)
{
    struct Case {
        const char* line;
        bool kept;
        const char* alias;
        const char* folder;
    } cases[] = {
        {"  /x/ ; C:\\data\\x ", true, "/x/", "C:/data/x"},
        {"/images/;/srv/pictures", true, "/images/", "/srv/pictures"},
        {"Img;/srv/img", true, "/img/", "/srv/img"},
        {"/Docs/Old/;old", true, "/docs/old/", "old"},
        {"/here/;./here/", true, "/here/", "here"},
        {"# comment;/x", true, nullptr, nullptr},
        {"", true, nullptr, nullptr},
        {"   ", true, nullptr, nullptr},
        {"/nofolder/;", false, nullptr, nullptr},
        {"/nofolder/;   ", false, nullptr, nullptr},
        {"no separator", false, nullptr, nullptr},
    };
    // A relative folder is taken from the working directory at once.
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof(cwd)), nullptr);
    for (const Case& c : cases) {
        RoutingTables tables;
        WString why;
        EXPECT_EQ(tables.addVirtualDirectoryLine(c.line, why), c.kept) << c.line;
        if (c.alias == nullptr) {
            EXPECT_TRUE(tables.virtualDirectories.empty()) << c.line;
            continue;
        }
        ASSERT_EQ(tables.virtualDirectories.entries().size(), 1u) << c.line;
        EXPECT_STREQ(tables.virtualDirectories.entries()[0].key, c.alias);
        std::string folder = c.folder[0] == '/' ? c.folder : std::string(cwd) + "/" + c.folder;
        EXPECT_STREQ(tables.virtualDirectories.entries()[0].value, folder.c_str());
    }
}

TEST(RoutingTablesTest, InterpreterLines)
{
    RoutingTables tables;
    WString why;
    EXPECT_TRUE(tables.addInterpreterLine(".php .php3;PHPBuildIn", why));
    EXPECT_TRUE(tables.addInterpreterLine(" .pl \t  .cgi  ; /usr/bin/perl -w ", why));
    EXPECT_TRUE(tables.addInterpreterLine(".php;/usr/bin/php-cgi", why));
    EXPECT_FALSE(tables.addInterpreterLine(";/bin/sh", why));
    EXPECT_FALSE(tables.addInterpreterLine("  \t ;/bin/sh", why));
    EXPECT_FALSE(tables.addInterpreterLine(".sh /bin/sh", why));
    const std::vector<RoutingEntry>& e = tables.interpreters.entries();
    ASSERT_EQ(e.size(), 4u);
    // A repeated key keeps its first place and takes the later command.
    EXPECT_STREQ(e[0].key, ".php");
    EXPECT_STREQ(e[0].value, "/usr/bin/php-cgi");
    EXPECT_STREQ(e[1].key, ".php3");
    EXPECT_STREQ(e[2].key, ".pl");
    EXPECT_STREQ(e[2].value, "/usr/bin/perl -w");
    EXPECT_STREQ(e[3].key, ".cgi");
}

TEST(RoutingTablesTest, LoadingReportsWhatItSkips)
{
    TempSite site;
    site.write("cfg/vdir.txt", "# pictures\r\n/img/;/srv/img\r\n/bad/;\r\n");
    site.write("cfg/cgi.txt", ".php;PHPBuildIn\n  ;x\n");
    site.write("cfg/mime.txt", "text/html html\n");
    RecordingControl control;
    RoutingTables tables;
    tables.load(&control);
    EXPECT_EQ(tables.virtualDirectories.entries().size(), 1u);
    EXPECT_EQ(tables.interpreters.entries().size(), 1u);
    EXPECT_STREQ(tables.mimeTypes.getMimeType("html"), "text/html");
    std::vector<RecordingControl::Line> lines = control.snapshot();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, -1);
    EXPECT_EQ(lines[0].text, "cfg/vdir.txt, line 3 skipped (virtual directory without a folder): /bad/;");
    EXPECT_EQ(lines[1].text, "cfg/cgi.txt, line 2 skipped (interpreter without a key):   ;x");

    // Missing files: no entries; only the MIME table is worth a report.
    ::remove(site.path("cfg/vdir.txt").c_str());
    ::remove(site.path("cfg/cgi.txt").c_str());
    ::remove(site.path("cfg/mime.txt").c_str());
    RecordingControl quiet;
    tables.load(&quiet);
    EXPECT_TRUE(tables.virtualDirectories.empty());
    EXPECT_TRUE(tables.interpreters.empty());
    EXPECT_STREQ(tables.mimeTypes.getMimeType("html"), "text/plain");
    ASSERT_EQ(quiet.snapshot().size(), 1u);
    EXPECT_EQ(quiet.count(-1,
                  "Cannot load MIME types, every file is sent as text/plain: "
                  "WFileNotFoundException: File not found: cfg/mime.txt"),
        1);
}

TEST(RoutingTablesTest, VirtualDirectoryMatch)
{
    struct Case {
        const char* path;
        const char* alias;
        bool match;
    } cases[] = {
        {"/img/logo.gif", "/img/", true},
        {"/img/", "/img/", true},
        {"/img", "/img/", true},
        {"/imgfoo", "/img/", false},
        {"/im", "/img/", false},
        {"/", "/img/", false},
        {"/img/a/b", "/img/a/", true},
        {"/x/img/", "/img/", false},
        {"/anything", "/", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(matchVirtualDirectory(c.path, c.alias), c.match) << c.path << " " << c.alias;
    }
}

TEST(RoutingTablesTest, PathsResolveCaseInsensitivelyBelowTheRoot)
{
    TempSite site;
    site.write("root/Docs/Read.ME", "x");
    site.write("root/docs/other.txt", "y");
    site.write("root/Pics/a.gif", "z");
    site.write("root/Pics/A.GIF", "z");
    site.write("Outside/file.txt", "o");
    std::string root = site.path("root");
    struct Case {
        const char* rest;
        const char* expected; // below root, or null for "unchanged"
    } cases[] = {
        {"/Docs/Read.ME", "/Docs/Read.ME"},
        {"/docs/read.me", nullptr},
        {"/docs/other.txt", "/docs/other.txt"},
        {"/DOCS/read.me", "/Docs/Read.ME"},
        // Of "Docs" and "docs" the first in byte order is taken, without a second try.
        {"/DOCS/OTHER.TXT", nullptr},
        {"/pics/a.gif", "/Pics/a.gif"},
        {"/PICS/a.Gif", "/Pics/A.GIF"},
        {"/pics/", "/Pics/"},
        {"/nothing/here", nullptr},
        {"/../outside/file.txt", nullptr},
        {"", ""},
    };
    for (const Case& c : cases) {
        PathResolver::FileType type = PathResolver::FileType::Unknown;
        WString resolved = PathResolver::resolve(root.c_str(), c.rest, &type);
        std::string expected = c.expected ? root + c.expected : root + c.rest;
        EXPECT_EQ(std::string(resolved), expected) << c.rest;
        // A name found in no case is said to be missing, so nobody looks again.
        if (c.expected == nullptr) {
            EXPECT_EQ(type, PathResolver::FileType::Missing) << c.rest;
        }
    }
    // "docs" and "Docs" both exist: a lower-case request below them matches exactly first.
    EXPECT_EQ(std::string(PathResolver::resolve(root.c_str(), "/docs/OTHER.txt")), root + "/docs/other.txt");
    EXPECT_TRUE(PathResolver::isReadableFile(site.path("root/docs/other.txt").c_str()));
    EXPECT_FALSE(PathResolver::isReadableFile(site.path("root/docs").c_str()));
    EXPECT_TRUE(PathResolver::isDirectory(site.path("root/docs").c_str()));
    EXPECT_FALSE(PathResolver::isDirectory(site.path("root/docs/other.txt").c_str()));
}
