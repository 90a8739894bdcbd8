// The icon built into the program and the copy desktop entries name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "AppIcon.h"
#include "ServerTestSupport.h"

using namespace servertest;

namespace {

struct DataHome : TempFolder {
    DataHome() { setenv("XDG_DATA_HOME", root.c_str(), 1); }
    ~DataHome() { unsetenv("XDG_DATA_HOME"); }
};

std::string builtIn()
{
    return std::string((const char*)AppIcon::png(), AppIcon::size());
}

} // namespace

TEST(AppIcon, IsThePngOfTheResources)
{
    const char* source = getenv("ZV_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::string file = readFile(std::string(source) + "/frontends/windowed/resources/zorvane.png");
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(builtIn(), file);
    EXPECT_EQ(builtIn().compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
}

TEST(AppIcon, InstallWritesTheBytesOnceAndRepairsAChangedCopy)
{
    DataHome home;
    std::string path = AppIcon::install();
    ASSERT_EQ(path, home.root + "/icons/zorvane-gui.png");
    EXPECT_EQ(readFile(path), builtIn());
    struct stat first;
    ASSERT_EQ(stat(path.c_str(), &first), 0);
    EXPECT_EQ(first.st_mode & 0777, 0644u);
    // The same bytes: left alone (same file, no temporaries).
    EXPECT_EQ(AppIcon::install(), path);
    struct stat again;
    ASSERT_EQ(stat(path.c_str(), &again), 0);
    EXPECT_EQ(first.st_ino, again.st_ino);
    // A different picture there is replaced.
    home.write("icons/zorvane-gui.png", "not a png");
    EXPECT_EQ(AppIcon::install(), path);
    EXPECT_EQ(readFile(path), builtIn());
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(home.path("icons")))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

TEST(AppIcon, NoPlaceToWriteGivesAnEmptyPath)
{
    DataHome home;
    home.write("icons", "a file where the folder should be");
    EXPECT_EQ(AppIcon::install(), "");
}

TEST(AppIcon, TheLauncherStartsThisBuildWithTheIcon)
{
    std::string text = readFile(ZORVANE_LAUNCHER_PATH);
    ASSERT_FALSE(text.empty()) << ZORVANE_LAUNCHER_PATH;
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("\nExec=\"") + ZORVANE_GUI_PATH + "\"\n"), std::string::npos) << text;
    size_t at = text.find("\nIcon=");
    ASSERT_NE(at, std::string::npos) << text;
    std::string icon = text.substr(at + 6, text.find('\n', at + 6) - at - 6);
    EXPECT_EQ(readFile(icon).compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << icon;
}
