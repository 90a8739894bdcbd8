#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <sys/stat.h>

#include "FileTestSupport.h"
#include "WDirectoryEntries.h"
#include "WWildcard.h"

namespace {

std::map<std::string, WFileInfo> list(const std::string& directory, const char* pattern)
{
    WDirectoryEntries entries(directory.c_str(), pattern);
    std::map<std::string, WFileInfo> found;
    WFileInfo info;
    while (entries.nextEntry(info))
        found[info.getFilename().getBuf()] = info;
    EXPECT_FALSE(entries.nextEntry(info));
    return found;
}

std::set<std::string> names(const std::map<std::string, WFileInfo>& entries)
{
    std::set<std::string> result;
    for (const auto& e : entries)
        result.insert(e.first);
    return result;
}

} // namespace

TEST(Directory, WildcardMatching)
{
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*", "anything", true},
        {"*", ".", true},
        {"*.*", "noextension", true},
        {"*.*", "..", true},
        {"*.txt", "a.txt", true},
        {"*.txt", "a.TXT", false},
        {"*.txt", "a.txt.bak", false},
        {"?.txt", "ab.txt", false},
        {"?.txt", "b.txt", true},
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXbYY", false},
        {"*a*", "bab", true},
        {"abc.*", "abc", true},
        {"abc.*", "abc.d", true},
        {"abc.*", "abcd", false},
        {"index.htm", "index.htm", true},
        {"index.htm", "index.html", false},
        {"", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WWildcard::matches(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
    EXPECT_TRUE(WWildcard::hasWildcards("a?"));
    EXPECT_FALSE(WWildcard::hasWildcards("plain.txt"));
}

TEST(Directory, ListsMatchingEntries)
{
    TempDir dir;
    dir.write("a.txt", "abc");
    dir.write("b.TXT", "");
    dir.write("c.dat", "12345");
    dir.write(".hidden", "h");
    ASSERT_EQ(mkdir(dir.path("sub").c_str(), 0755), 0);

    EXPECT_EQ(names(list(dir.root, "*.txt")), (std::set<std::string> {"a.txt"}));
    EXPECT_EQ(names(list(dir.root, "?.*")), (std::set<std::string> {"..", "a.txt", "b.TXT", "c.dat"}));

    auto all = list(dir.root, "*.*");
    EXPECT_EQ(names(all), (std::set<std::string> {".", "..", "a.txt", "b.TXT", "c.dat", ".hidden", "sub"}));
    EXPECT_EQ(all["c.dat"].getFileSize(), 5);
    EXPECT_EQ(all["c.dat"].getFileType(), (unsigned long)WFileInfo::ATTRIBUTE_NORMAL);
    EXPECT_TRUE(all["sub"].getFileType() & WFileInfo::ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(all["sub"].getFileSize(), 0);
    EXPECT_TRUE(all["."].getFileType() & WFileInfo::ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(all[".hidden"].getFileType() & WFileInfo::ATTRIBUTE_HIDDEN);
    struct stat st;
    ASSERT_EQ(stat(dir.path("a.txt").c_str(), &st), 0);
    EXPECT_EQ(all["a.txt"].getTimeLastModified(), (unsigned long long)st.st_mtime);

    EXPECT_EQ(names(list(dir.root, "*")), names(all));
    EXPECT_EQ(names(list(dir.root, "sub.*")), (std::set<std::string> {"sub"}));
    EXPECT_EQ(names(list(dir.root, "c.dat")), (std::set<std::string> {"c.dat"}));
    EXPECT_TRUE(list(dir.root, "nothing.*").empty());
    EXPECT_TRUE(list(dir.root, "missing.txt").empty());
    EXPECT_TRUE(list(dir.path("no-such-folder"), "*.*").empty());
}

TEST(Directory, EmptyPatternNamesTheDirectoryItself)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.path("folder").c_str(), 0755), 0);
    dir.write("folder/inner.txt", "x");
    auto self = list(dir.path("folder"), "");
    ASSERT_EQ(names(self), (std::set<std::string> {"folder"}));
    EXPECT_TRUE(self["folder"].getFileType() & WFileInfo::ATTRIBUTE_DIRECTORY);

    // A pattern with a folder part searches that folder.
    EXPECT_EQ(names(list(dir.root, "folder/*.txt")), (std::set<std::string> {"inner.txt"}));
}
