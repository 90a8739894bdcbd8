// The session autostart entry in a temporary configuration home.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "Autostart.h"
#include "ServerTestSupport.h"
#include "ZorvaneVersion.h"

using namespace servertest;

namespace {

struct ConfigHome : TempFolder {
    ConfigHome() { setenv("XDG_CONFIG_HOME", root.c_str(), 1); }
    ~ConfigHome() { unsetenv("XDG_CONFIG_HOME"); }
};

} // namespace

TEST(Autostart, EntryExistsExactlyWhileSet)
{
    ConfigHome home;
    EXPECT_EQ(std::string(Autostart::entryPath().getBuf()), home.root + "/autostart/zorvane-gui.desktop");
    EXPECT_FALSE(Autostart::exists());
    ASSERT_TRUE(Autostart::set(ZORVANE_WITH_PHP, "/opt/zorvane/zorvane_gui", "-autostart"));
    EXPECT_TRUE(Autostart::exists());
    EXPECT_EQ(readFile(home.path("autostart/zorvane-gui.desktop")),
        "[Desktop Entry]\nType=Application\nName=" ZORVANE_WITH_PHP "\n"
        "Exec=\"/opt/zorvane/zorvane_gui\" -autostart\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    struct stat info;
    ASSERT_EQ(stat(home.path("autostart/zorvane-gui.desktop").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_TRUE(Autostart::remove());
    EXPECT_FALSE(Autostart::exists());
    EXPECT_TRUE(Autostart::remove()); // nothing to remove is fine
}

TEST(Autostart, ProgramPathIsQuotedForTheExecLine)
{
    ConfigHome home;
    ASSERT_TRUE(Autostart::set("Z", "/home/a b/$x\"q%/zorvane_gui", "-autostart"));
    std::string text = readFile(home.path("autostart/zorvane-gui.desktop"));
    EXPECT_NE(text.find("Exec=\"/home/a b/\\\\$x\\\\\"q%%/zorvane_gui\" -autostart\n"), std::string::npos) << text;
}

TEST(Autostart, AHiddenEntryCountsAsOff)
{
    ConfigHome home;
    home.write("autostart/zorvane-gui.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n");
    EXPECT_FALSE(Autostart::exists());
}

TEST(Autostart, RewritingLeavesNoTemporaryFiles)
{
    ConfigHome home;
    ASSERT_TRUE(Autostart::set("Z", "/a", "-autostart"));
    ASSERT_TRUE(Autostart::set("Z", "/b", "-autostart"));
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(home.path("autostart")))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
    EXPECT_NE(readFile(home.path("autostart/zorvane-gui.desktop")).find("Exec=\"/b\""), std::string::npos);
}

TEST(Autostart, IconAndNameAreWrittenAsStringValues)
{
    ConfigHome home;
    ASSERT_TRUE(Autostart::set("Zorvane\nExec=/bin/evil", "/opt/z", "-autostart", "/home/a\\b/zorvane-gui.png"));
    std::string text = readFile(home.path("autostart/zorvane-gui.desktop"));
    EXPECT_NE(text.find("\nName=Zorvane\\nExec=/bin/evil\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=/home/a\\\\b/zorvane-gui.png\n"), std::string::npos) << text;
    // Without an icon there is no Icon line.
    ASSERT_TRUE(Autostart::set("Z", "/opt/z", "-autostart", ""));
    EXPECT_EQ(readFile(home.path("autostart/zorvane-gui.desktop")).find("Icon="), std::string::npos);
}
