// Where the windowed program finds cfg/ and www/, and the addresses its
// website item opens.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "HomeFolder.h"
#include "Website.h"

namespace fs = std::filesystem;

namespace {

class TempTree {
public:
    TempTree()
    {
        char pattern[] = "/tmp/zorvane-home-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~TempTree()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string make(const std::string& relative)
    {
        fs::create_directories(root / relative);
        return (root / relative).string();
    }
    fs::path root;
};

} // namespace

TEST(HomeFolder, FirstFolderUpwardsThatHoldsCfg)
{
    struct Case {
        const char* name;
        std::vector<std::string> folders; // made under the root
        std::string program; // the program's folder
        std::string expected; // the home folder
    } cases[] = {
        {"next to the program", {"app/cfg", "app/www"}, "app", "app"},
        {"installed prefix", {"opt/cfg", "opt/bin"}, "opt/bin", "opt"},
        {"build tree", {"project/cfg", "project/build/bin"}, "project/build/bin", "project"},
        {"own cfg wins", {"p/cfg", "p/build/bin/cfg"}, "p/build/bin", "p/build/bin"},
        {"too far up", {"far/cfg", "far/a/b/bin"}, "far/a/b/bin", "far/a/b/bin"},
        {"nothing", {"none/build/bin"}, "none/build/bin", "none/build/bin"},
        {"cfg is a file", {"file/build/bin"}, "file/build/bin", "file/build/bin"},
    };
    for (const Case& c : cases) {
        TempTree tree;
        for (const auto& f : c.folders)
            tree.make(f);
        if (std::string(c.name) == "cfg is a file") std::ofstream((tree.root / "file" / "cfg").string()) << "x";
        std::string program = (tree.root / c.program).string();
        EXPECT_EQ(HomeFolder::find(program), (tree.root / c.expected).string()) << c.name;
        EXPECT_EQ(HomeFolder::find(program + "/"),
            c.expected == c.program ? program + "/" : (tree.root / c.expected).string())
            << c.name << " (trailing slash)";
    }
}

TEST(Website, FileAddressesAreEncoded)
{
    EXPECT_EQ(std::string(Website::fileAddress("/home/ann/zorvane/README.md").getBuf()),
        "file:///home/ann/zorvane/README.md");
    EXPECT_EQ(std::string(Website::fileAddress("/tmp/my site/#1%.md").getBuf()), "file:///tmp/my%20site/%231%25.md");
    EXPECT_EQ(std::string(Website::fileAddress("/tmp/\xC3\xA4").getBuf()), "file:///tmp/%C3%A4");
}

TEST(Website, ReadmeOnlyWhenItExists)
{
    TempTree tree;
    std::string home = tree.make("home");
    EXPECT_EQ(std::string(Website::readmeAddress(home.c_str()).getBuf()), "");
    tree.make("home/README.md"); // a folder is no README
    EXPECT_EQ(std::string(Website::readmeAddress(home.c_str()).getBuf()), "");
    fs::remove(tree.root / "home" / "README.md");
    std::ofstream((tree.root / "home" / "README.md").string()) << "# Zorvane\n";
    EXPECT_EQ(std::string(Website::readmeAddress(home.c_str()).getBuf()), "file://" + home + "/README.md");
}

TEST(Website, StartPages)
{
    struct Case {
        const char* host;
        unsigned int port;
        const char* expected;
    } cases[] = {
        {"localhost", 8080, "http://127.0.0.1:8080/"},
        {"127.0.0.2", 80, "http://127.0.0.2:80/"},
        {"", 81, "http://127.0.0.1:81/"},
        {"0.0.0.0", 82, "http://127.0.0.1:82/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::string(Website::startPageAddress(c.host, c.port).getBuf()), c.expected) << c.host;
}
