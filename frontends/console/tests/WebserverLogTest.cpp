// The console controller's log from many threads at once: whole lines on the
// console and in error.log, never pieces of two.

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "WException.h"
#include "Webserver.h"

namespace {

const std::string TIME = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(WebserverLogTest, LinesFromManyThreadsStayWhole)
{
    char name[] = "/tmp/zorvane-log-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    std::string folder = name;
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(folder.c_str()), 0);
    ::mkdir("cfg", 0755);
    std::ofstream("cfg/mime.txt") << "text/html html\n";

    // The console goes to a file for the length of the test.
    std::fflush(stdout);
    int saved = ::dup(1);
    int file = ::open("console.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::dup2(file, 1);
    {
        // Ports below the range of outgoing connections; another test may hold one.
        std::unique_ptr<Webserver> server;
        for (int attempt = 0; !server && attempt < 20; attempt++) {
            std::ofstream("cfg/init.txt", std::ios::trunc)
                << "httpHost=127.0.0.1\nhttpPort=" << (20000 + (::getpid() * 31 + attempt * 577) % 12000) << "\n";
            try {
                server = std::make_unique<Webserver>("", 0, "", 2, "", 0);
            } catch (WException&) {
            }
        }
        ASSERT_TRUE(server);
        Webserver& webserver = *server;
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; t++) {
            threads.emplace_back([&, t] {
                std::string filler(300, (char)('a' + t));
                for (int i = 0; i < 50; i++) {
                    webserver.log((filler + " " + std::to_string(i)).c_str(), i % 2 == 0 ? 2 : -1);
                }
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        webserver.log("not shown", 3);
    }
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(file);

    std::string console = readFile("console.txt");
    std::string errors = readFile("error.log");
    ASSERT_EQ(::chdir(previous), 0);
    ::nftw(
        folder.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);

    std::regex consoleLine(TIME + " : ([a-h])\\1{299} [0-9]+");
    std::regex errorLine(TIME + ": ([a-h])\\1{299} [0-9]+");
    int filled = 0;
    std::istringstream lines(console);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        if (line.find(" : ") != std::string::npos && line.find("Zorvane") == std::string::npos
            && line.find("HTTP server") == std::string::npos && line.find("Document path") == std::string::npos
            && line.find("Webserver stopped") == std::string::npos && line.find("Embedded PHP") == std::string::npos) {
            EXPECT_TRUE(std::regex_match(line, consoleLine)) << line;
            filled++;
        }
    }
    EXPECT_EQ(filled, 400);
    EXPECT_EQ(console.find("not shown"), std::string::npos);
    int logged = 0;
    std::istringstream errorLines(errors);
    for (std::string line; std::getline(errorLines, line);) {
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        EXPECT_TRUE(std::regex_match(line, errorLine)) << line;
        logged++;
    }
    EXPECT_EQ(logged, 200);
}
