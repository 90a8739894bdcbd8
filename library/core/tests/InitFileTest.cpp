#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FileTestSupport.h"
#include "WException.h"
#include "WInitFile.h"

namespace {

// Each test works in a fresh folder of its own (path, write and read name
// files in it).
class InitFileTest : public ::testing::Test, protected TempDir {
protected:
    int fileCount() const
    {
        int n = 0;
        DIR* d = opendir(root.c_str());
        while (struct dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') n++;
        }
        closedir(d);
        return n;
    }
};

} // namespace

TEST_F(InitFileTest, ReadsCommentsOddLinesAndRepeatedKeys)
{
    write("init.txt",
        "# comment\r\n\r\nport = 8080\r\nname=a=b\r\nport=81\r\nnoseparator\r\n   # indented comment\n"
        "  key  =  some value  \n=x\nk=\n\tTabbed\t=\tv\t\r\nlast=no line end");
    WInitFile ini;
    ini.open(path("init.txt").c_str(), "=");
    EXPECT_STREQ(ini.getValue("port"), "81");
    EXPECT_STREQ(ini.getValue("name"), "a=b");
    EXPECT_STREQ(ini.getValue("key"), "some value");
    EXPECT_STREQ(ini.getValue(""), "x");
    EXPECT_STREQ(ini.getValue("k"), "");
    EXPECT_STREQ(ini.getValue("Tabbed"), "v");
    EXPECT_STREQ(ini.getValue("last"), "no line end");
    EXPECT_STREQ(ini.getValue("# comment"), "");
    EXPECT_STREQ(ini.getValue("noseparator"), "");

    ini.save(path("out.txt").c_str(), "=");
    EXPECT_EQ(read("out.txt"), "port=81\r\nname=a=b\r\nkey=some value\r\n=x\r\nk=\r\nTabbed=v\r\nlast=no line end\r\n");
}

TEST_F(InitFileTest, OtherSeparators)
{
    write("a.txt", "a :: b\nc::d::e\nf:g\n");
    WInitFile ini;
    ini.open(path("a.txt").c_str(), "::");
    EXPECT_STREQ(ini.getValue("a"), "b");
    EXPECT_STREQ(ini.getValue("c"), "d::e");
    EXPECT_STREQ(ini.getValue("f"), "");
    ini.save(path("b.txt").c_str(), "::");
    EXPECT_EQ(read("b.txt"), "a::b\r\nc::d::e\r\n");
}

TEST_F(InitFileTest, SaveAndOpenRoundTrip)
{
    WInitFile ini;
    ini.putValue("host", "localhost");
    ini.putValue("port", 8080);
    ini.putValue("autostart", true);
    ini.putValue("ratio", 2.5, 3);
    ini.putValue("big", 4294967295UL);
    ini.putValue("negative", -12);
    ini.putValue("host", " example.org ");
    ini.save(path("init.txt").c_str(), "=");

    WInitFile again;
    again.putValue("kept", "yes");
    again.open(path("init.txt").c_str(), "=");
    EXPECT_STREQ(again.getValue("host"), "example.org");
    EXPECT_EQ(again.getIntValue("port"), 8080);
    EXPECT_TRUE(again.getFlagValue("autostart"));
    EXPECT_STREQ(again.getValue("ratio"), "2.500");
    EXPECT_STREQ(again.getValue("big"), "4294967295");
    EXPECT_EQ(again.getIntValue("negative"), -12);
    EXPECT_STREQ(again.getValue("kept"), "yes");

    again.save(path("copy.txt").c_str(), "=");
    EXPECT_EQ(read("copy.txt"),
        "kept=yes\r\nhost=example.org\r\nport=8080\r\nautostart=true\r\nratio=2.500\r\n"
        "big=4294967295\r\nnegative=-12\r\n");
    again.close();
    EXPECT_STREQ(again.getValue("host"), "");
}

TEST_F(InitFileTest, Getters)
{
    WInitFile ini;
    ini.putValue("a", "12abc");
    ini.putValue("b", "abc");
    ini.putValue("c", "TRUE");
    ini.putValue("d", "yes");
    ini.putValue("e", "  42");
    EXPECT_EQ(ini.getIntValue("a"), 12);
    EXPECT_EQ(ini.getIntValue("b"), 0);
    EXPECT_EQ(ini.getIntValue("e"), 42);
    EXPECT_EQ(ini.getIntValue("missing"), 0);
    EXPECT_TRUE(ini.getFlagValue("c"));
    EXPECT_FALSE(ini.getFlagValue("d"));
    EXPECT_FALSE(ini.getFlagValue("missing"));
    ASSERT_NE(ini.getValue("missing"), nullptr);
    EXPECT_STREQ(ini.getValue("missing"), "");
    EXPECT_STREQ(ini.getValue("A"), ""); // keys are case-sensitive

    ini.putValue("f", false);
    EXPECT_STREQ(ini.getValue("f"), "false");
    ini.putValue("g", 1.0 / 3.0, 0);
    EXPECT_STREQ(ini.getValue("g"), "0");
    ini.putValue("h", -2.345, 2);
    EXPECT_STREQ(ini.getValue("h"), "-2.35");
}

// Saving covers every entry even when a pass over a copy was broken off,
// and the copy is independent.
TEST_F(InitFileTest, SaveNeverDropsEntries)
{
    WInitFile ini;
    for (int i = 0; i < 5; i++)
        ini.putValue(("k" + std::to_string(i)).c_str(), i);
    WInitFile copy(ini);
    WInitFile assigned;
    assigned.putValue("old", "x");
    assigned = copy;
    copy.putValue("k0", "changed");
    EXPECT_STREQ(ini.getValue("k0"), "0");
    assigned.save(path("a.txt").c_str(), "=");
    EXPECT_EQ(read("a.txt"), "k0=0\r\nk1=1\r\nk2=2\r\nk3=3\r\nk4=4\r\n");
    assigned.save(path("a.txt").c_str(), "=");
    EXPECT_EQ(read("a.txt"), "k0=0\r\nk1=1\r\nk2=2\r\nk3=3\r\nk4=4\r\n");
}

TEST_F(InitFileTest, SaveReplacesInOneStep)
{
    write("init.txt", "old=1\r\n");
    chmod(path("init.txt").c_str(), 0600);
    WInitFile ini;
    ini.putValue("new", "2");
    ini.save(path("init.txt").c_str(), "=");
    EXPECT_EQ(read("init.txt"), "new=2\r\n");
    EXPECT_EQ(fileCount(), 1); // no temporary file left behind
    struct stat st;
    ASSERT_EQ(stat(path("init.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Through a symbolic link, the target is replaced and the link stays.
    ASSERT_EQ(symlink(path("init.txt").c_str(), path("link.txt").c_str()), 0);
    ini.putValue("via", "link");
    ini.save(path("link.txt").c_str(), "=");
    struct stat lst;
    ASSERT_EQ(lstat(path("link.txt").c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(read("init.txt"), "new=2\r\nvia=link\r\n");
}

TEST_F(InitFileTest, Failures)
{
    WInitFile ini;
    ini.putValue("a", "1");
    try {
        ini.open(path("missing.txt").c_str(), "=");
        FAIL();
    } catch (const WFileNotFoundException& e) {
        EXPECT_EQ(std::string(e.getMessage()), "File not found: " + path("missing.txt"));
    }
    EXPECT_STREQ(ini.getValue("a"), "1");

    // A folder that does not exist: the old file stays untouched.
    EXPECT_THROW(ini.save(path("no/such/dir/init.txt").c_str(), "="), WFileException);
    // A folder where the temporary cannot be made.
    ASSERT_EQ(mkdir(path("ro").c_str(), 0700), 0);
    write("ro/keep.txt", "keep=1\r\n");
    chmod(path("ro").c_str(), 0500);
    if (geteuid() != 0) { // permissions do not bind root
        EXPECT_THROW(ini.save(path("ro/keep.txt").c_str(), "="), WFileException);
    }
    chmod(path("ro").c_str(), 0700);
    EXPECT_EQ(read("ro/keep.txt"), "keep=1\r\n");
}

// The temporary file is made exclusively next to the target: neither a file
// whose name a fixed-size buffer would have produced from a long target path,
// nor a link planted at "<target>.tmp", is ever opened for writing.
TEST_F(InitFileTest, SaveNeverWritesThroughAnotherName)
{
    // Target paths of 1020 to 1024 characters, each in a folder of its own.
    for (unsigned long total = 1020; total <= 1024; ++total) {
        SCOPED_TRACE(total);
        std::string dir = path("d" + std::to_string(total));
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        while (dir.size() + 1 + 200 < total) {
            dir += "/" + std::string(100, 'p');
            ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        }
        std::string target = dir + "/" + std::string(total - dir.size() - 1, 'n');
        ASSERT_EQ(target.size(), total);
        // What "%s.tmp" cut to 1024 characters names: an unrelated file.
        std::string cut = (target + ".tmp").substr(0, 1024);
        if (cut != target) {
            std::ofstream(cut, std::ios::binary) << "precious";
        } else {
            std::ofstream(target, std::ios::binary) << "old=1\r\n";
        }
        WInitFile ini;
        ini.putValue("k", "v");
        ini.save(target.c_str(), "=");
        EXPECT_EQ(slurp(target), "k=v\r\n");
        if (cut != target) {
            EXPECT_EQ(slurp(cut), "precious");
        }
    }

    write("victim.txt", "precious");
    ASSERT_EQ(symlink(path("victim.txt").c_str(), path("init.txt.tmp").c_str()), 0);
    WInitFile ini;
    ini.putValue("k", "v");
    ini.save(path("init.txt").c_str(), "=");
    EXPECT_EQ(read("init.txt"), "k=v\r\n");
    EXPECT_EQ(read("victim.txt"), "precious");
    struct stat st;
    ASSERT_EQ(lstat(path("init.txt.tmp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}
