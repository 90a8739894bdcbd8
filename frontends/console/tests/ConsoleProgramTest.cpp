// zorvane_cmd as its users run it: options, cfg/init.txt, console lines,
// error.log and the automatic finish. Each test runs the program in a
// temporary folder with its own cfg/ and documents.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ServerTestSupport.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>
#include "ZorvaneVersion.h"

extern char** environ;

namespace {

const char* const USAGE
    = "Usage: zorvane_cmd.exe\r\n\r\n--host=<host>\r\n--port=<port>\r\n--docpath=<document path>\r\n"
      "--loglevel=<0..3>\r\n--open-url=<url>\r\n--auto-finish=<finishcode>\r\n\r\n"
      "<finishcode>: 0=run infinite, x=x seconds, -x=x requests\r\n\r\n"
      "<loglevel>: 0=only errors, 1=default, 2=notice, 3=http headers\r\n\r\n"
      "Example:\r\nStart webserver on port 81, open url, finish after 1 request.\r\n"
      "zorvane_cmd.exe --port=81 --open-url=http://127.0.0.1:81/myscript.php --auto-finish=-1\r\n\r\n"
      "Note: Default configuration in cfg/ directory is used.";

// The time stamp that begins console and error.log lines: 'Tue Dec  8 20:28:23 2026'.
const std::string TIME = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}";
// The start-up line as a pattern: the embedded runtime's version, dots taken literally.
const std::string RUNNING = std::regex_replace(ZORVANE_WITH_PHP " running ...", std::regex("\\."), "\\.");

using servertest::readFile;
using servertest::roundTrip;

class ConsoleProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = site.root;
        port = servertest::freePort();
        site.write("cfg/mime.txt", "text/html html\n");
        site.write("cfg/cgi.txt", ".php;PHPBuildIn\n");
        site.write("docs/index.html", "<h1>console</h1>");
        site.write("docs/a.php", "<?php echo 'script';");
    }

    void TearDown() override
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // The folder as the program sees its working directory (links resolved).
    std::string realFolder() const
    {
        char path[4096];
        return ::realpath(folder.c_str(), path) ? path : folder;
    }

    // cfg/init.txt naming the test's port and document folder, plus extra lines.
    void writeInit(const std::string& extra = "")
    {
        site.write("cfg/init.txt", "httpHost=127.0.0.1\nhttpPort=" + std::to_string(port) + "\ndocPath=docs\n" + extra);
    }

    // Starts the program in the folder with its output going to files there.
    // A non-empty path replaces the program's PATH.
    void launch(const std::vector<std::string>& options, const std::string& path = "")
    {
        std::vector<std::string> words = {ZORVANE_CMD_PATH};
        words.insert(words.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, "stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> variables;
        for (char** e = environ; *e != nullptr; e++) {
            std::string v = *e;
            if (!path.empty() && v.rfind("PATH=", 0) == 0) {
                v = "PATH=" + path;
            }
            variables.push_back(v);
        }
        std::vector<char*> envp;
        for (std::string& v : variables) {
            envp.push_back(v.data());
        }
        envp.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    // Waits for the program to end; its exit status, or -1 after the time-out.
    int finish(int ms = 10000)
    {
        for (int waited = 0; waited < ms; waited += 10) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    int run(const std::vector<std::string>& options, int ms = 10000)
    {
        launch(options);
        return finish(ms);
    }

    // Waits until the program answers on its port.
    bool waitListening()
    {
        for (int i = 0; i < 500; i++) {
            if (servertest::Client(port).connected) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string out() { return readFile(folder + "/stdout.txt"); }
    std::string err() { return readFile(folder + "/stderr.txt"); }

    servertest::TempFolder site;
    std::string folder;
    unsigned port = 0;
    pid_t pid = -1;
};

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(ConsoleProgramTest, HelpPrintsTheUsageAndStartsNothing)
{
    // No cfg/init.txt is needed, and words after --help are not looked at.
    ::remove((folder + "/cfg/mime.txt").c_str());
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(out(), USAGE);
    EXPECT_EQ(err(), "");
    EXPECT_EQ(run({"--port=1", "--help", "--bogus"}), 0);
    EXPECT_EQ(out(), USAGE);
}

TEST_F(ConsoleProgramTest, MissingInitFileEndsInTheErrorBox)
{
    EXPECT_EQ(run({"--port=" + std::to_string(port)}), 1);
    EXPECT_EQ(err(), "Error: WFileNotFoundException: File not found: cfg/init.txt (id=-1, syserr=00000002h)\n");
}

TEST_F(ConsoleProgramTest, FinishesAfterSeconds)
{
    // The file's finish code holds, since '--auto-finish=0' counts as not given.
    writeInit("autoFinish=1\n");
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run({"--auto-finish=0"}), 0);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(5));
    std::string text = out();
    std::string p = std::to_string(port);
    // The relative document path is logged as the folder it was taken for.
    std::string docs = std::regex_replace(realFolder() + "/docs", std::regex("[.+]"), "\\$&");
    EXPECT_TRUE(std::regex_match(text,
        std::regex("(" + TIME + " : Embedded PHP [^\r]*\r\n)?" + TIME + " : " + RUNNING + "\r\n" + TIME
            + " : Create HTTP server: Host=127\\.0\\.0\\.1, Port=" + p + "\r\n" + TIME + " : Document path: " + docs + "\r\n"
            + TIME + " : Auto finish after 1 seconds\r\n" + TIME + " : Webserver stopped\r\n")))
        << text;
}

TEST_F(ConsoleProgramTest, FinishesAfterScriptRequests)
{
    writeInit();
    launch({"--auto-finish=-2", "--loglevel=2"});
    ASSERT_TRUE(waitListening());
    // Static files do not count.
    EXPECT_TRUE(contains(roundTrip(port, "GET /index.html HTTP/1.1\r\nHost: x\r\n\r\n"), "<h1>console</h1>"));
    EXPECT_TRUE(contains(roundTrip(port, "GET /index.html HTTP/1.1\r\nHost: x\r\n\r\n"), "<h1>console</h1>"));
    roundTrip(port, "GET /a.php HTTP/1.1\r\nHost: x\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(finish(10), -1) << "ended after one script request";
    roundTrip(port, "GET /a.php HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(finish(5000), 0);
    std::string text = out();
    EXPECT_TRUE(contains(text, " : Auto finish after 2 request(s)\r\n")) << text;
    EXPECT_TRUE(contains(text, " : Webserver stopped\r\n")) << text;
    EXPECT_TRUE(contains(text, " : Script execution time = ")) << text;
    EXPECT_FALSE(contains(text, "Auto finish after 2 seconds")) << text;
}

TEST_F(ConsoleProgramTest, ErrorsGoToErrorLogAndTheConsole)
{
    writeInit();
    launch({"--auto-finish=2", "--loglevel=0"});
    ASSERT_TRUE(waitListening());
    EXPECT_TRUE(contains(roundTrip(port, "G(T / HTTP/1.1\r\n\r\n"), "400 Bad Request"));
    EXPECT_TRUE(contains(roundTrip(port, "GET /a%4G HTTP/1.1\r\nHost: x\r\n\r\n"), "400 Bad Request"));
    EXPECT_EQ(finish(), 0);
    std::string log = readFile(folder + "/error.log");
    EXPECT_TRUE(std::regex_match(log,
        std::regex(TIME + ": WException: Unknown HTTP method 'G\\(T' \\(id=-1, syserr=00000000h\\)\r\n" + TIME
            + ": WException: Invalid URL-Encoding format\\. \\(id=-1, syserr=00000000h\\)\r\n")))
        << log;
    // Level 0 shows errors and the two lines that are always shown, nothing else.
    std::string text = out();
    EXPECT_TRUE(std::regex_match(text,
        std::regex(TIME + " : " + RUNNING + "\r\n" + TIME
            + " : WException: Unknown HTTP method 'G\\(T' \\(id=-1, syserr=00000000h\\)\r\n" + TIME
            + " : WException: Invalid URL-Encoding format\\. \\(id=-1, syserr=00000000h\\)\r\n" + TIME
            + " : Webserver stopped\r\n")))
        << text;
}

TEST_F(ConsoleProgramTest, HeaderLevelShowsTheRawProtocol)
{
    writeInit();
    launch({"--auto-finish=1", "--loglevel=3"});
    ASSERT_TRUE(waitListening());
    roundTrip(port, "GET /missing.html HTTP/1.1\r\nHost: here\r\n\r\n");
    EXPECT_EQ(finish(), 0);
    std::string text = out();
    EXPECT_TRUE(contains(text, "\r\nGET /missing.html HTTP/1.1\nHost: here\n\r\n")) << text;
    EXPECT_TRUE(contains(text,
        "\r\nHTTP/1.1 404 Not Found\nServer: " ZORVANE_WITH_PHP " V1.1\n"
        "Content-Type: text/html\nConnection: close\n\r\n"))
        << text;
    EXPECT_TRUE(contains(text, " : File not found: " + realFolder() + "/docs/missing.html, MimeType=text/html\r\n"))
        << text;
}

TEST_F(ConsoleProgramTest, OptionsFallBackToTheInitFile)
{
    // '--port=abc' reads as 0: the port comes from the file.
    writeInit("autoFinish=1\n");
    EXPECT_EQ(run({"--port=abc", "--port", "--unknown=1"}), 0);
    EXPECT_TRUE(contains(out(), "Create HTTP server: Host=127.0.0.1, Port=" + std::to_string(port) + "\r\n")) << out();
    // Options win over the file.
    unsigned other = servertest::freePort();
    EXPECT_EQ(run({"--port=" + std::to_string(other), "--docpath=elsewhere", "--host=localhost"}), 0);
    EXPECT_TRUE(contains(out(), "Create HTTP server: Host=localhost, Port=" + std::to_string(other) + "\r\n")) << out();
    EXPECT_TRUE(contains(out(), "Document path: " + realFolder() + "/elsewhere\r\n")) << out();
}

TEST_F(ConsoleProgramTest, EmptyInitFileGivesTheDefaults)
{
    site.write("cfg/init.txt", "");
    EXPECT_EQ(run({"--port=" + std::to_string(port), "--auto-finish=1"}), 0);
    std::string here = realFolder();
    EXPECT_TRUE(contains(out(), "Create HTTP server: Host=localhost, Port=" + std::to_string(port) + "\r\n")) << out();
    EXPECT_TRUE(contains(out(), "Document path: " + here + "\r\n")) << out();
}

TEST_F(ConsoleProgramTest, BindFailuresEndInTheErrorBox)
{
    writeInit();
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    EXPECT_EQ(run({}), 1);
    ::close(holder);
    EXPECT_TRUE(std::regex_match(err(),
        std::regex("Error: WSocketException: Cannot bind to 127\\.0\\.0\\.1:" + std::to_string(port)
            + " \\(id=-7, syserr=[0-9A-F]{8}h\\)\n")))
        << err();
    // A port outside 1..65535 is refused the same way instead of wrapping around.
    EXPECT_EQ(run({"--port=70000"}), 1);
    EXPECT_TRUE(contains(err(), "Error: WSocketException: Cannot bind to 127.0.0.1:70000 (id=-7, syserr=")) << err();
}

TEST_F(ConsoleProgramTest, PortsBeyondTheRangeNeverWrap)
{
    // 4294967376 is 2^32 + 80: read into 32 bits it would listen on port 80.
    const struct {
        const char* option; // empty: the number stands in cfg/init.txt
        const char* initPort;
        const char* shown;
    } cases[] = {
        {"--port=4294967376", "", "4294967376"},
        {"--port=65536", "", "65536"},
        {"--port=-1", "", "-1"},
        {"", "4294967376", "4294967376"},
        {"", "99999999999999999999999", "1000000000000000000"},
        {"", "-80", "-80"},
    };
    for (const auto& c : cases) {
        site.write("cfg/init.txt", std::string("httpHost=127.0.0.1\nhttpPort=") + c.initPort + "\ndocPath=docs\n");
        std::vector<std::string> options;
        if (*c.option != '\0') {
            options.push_back(c.option);
        }
        EXPECT_EQ(run(options), 1) << c.option << c.initPort;
        EXPECT_TRUE(contains(
            err(), std::string("Error: WSocketException: Cannot bind to 127.0.0.1:") + c.shown + " (id=-7, syserr="))
            << c.option << c.initPort << ": " << err();
        EXPECT_FALSE(contains(out(), "running")) << out();
    }
}

TEST_F(ConsoleProgramTest, DocumentPathProblemsAreWarnedAtStart)
{
    site.write("docs/file.txt", "x");
    const std::string tooLong = "/" + std::string(300, 'd') + "/" + std::string(4000, 'e');
    const struct {
        std::string docPath;
        std::string warning;
    } cases[] = {
        {"missing", "Warning: document path does not exist: missing\r\n"},
        {"docs/file.txt", "Warning: document path is not a folder: docs/file.txt\r\n"},
        {tooLong, "Warning: document path is too long: " + tooLong + "\r\n"},
        {"/" + std::string(300, 'n'), "Warning: document path is too long: /" + std::string(300, 'n') + "\r\n"},
        {"docs", ""},
    };
    for (const auto& c : cases) {
        writeInit("autoFinish=1\n");
        EXPECT_EQ(run({"--loglevel=0", "--docpath=" + c.docPath}), 0) << c.docPath;
        if (c.warning.empty()) {
            EXPECT_FALSE(contains(out(), "Warning")) << out();
        } else {
            EXPECT_TRUE(contains(out(), " : " + c.warning)) << out();
        }
        // The server still starts; the folder may appear later.
        EXPECT_TRUE(contains(out(), "running ...")) << out();
    }
}

TEST_F(ConsoleProgramTest, StartURLWithoutABrowserIsHarmless)
{
    // No xdg-open to be found.
    writeInit();
    launch({"--auto-finish=1", "--open-url=http://127.0.0.1:" + std::to_string(port) + "/"}, folder + "/none");
    ASSERT_TRUE(waitListening());
    EXPECT_TRUE(contains(roundTrip(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"), "<h1>console</h1>"));
    EXPECT_EQ(finish(), 0);
    EXPECT_TRUE(contains(out(), " : Webserver stopped\r\n"));
}

TEST_F(ConsoleProgramTest, StartURLOpensTheBrowser)
{
    // A stand-in for xdg-open that notes how it was called.
    ::mkdir((folder + "/bin").c_str(), 0755);
    site.write("bin/xdg-open",
        "#!/bin/sh\n"
        "i=$(readlink /proc/$$/fd/0); o=$(readlink /proc/$$/fd/1); e=$(readlink /proc/$$/fd/2)\n"
        "printf 'args=%s:%s\\n%s %s %s\\n' \"$#\" \"$1\" \"$i\" \"$o\" \"$e\" > opened.tmp\n"
        "mv opened.tmp opened.txt\n");
    ::chmod((folder + "/bin/xdg-open").c_str(), 0755);
    writeInit();
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/a b;$(x)";
    launch({"--auto-finish=1", "--open-url=" + url}, folder + "/bin:/usr/bin:/bin");
    EXPECT_EQ(finish(), 0);
    std::string opened;
    for (int i = 0; i < 200 && opened.empty(); i++) {
        opened = readFile(folder + "/opened.txt");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(opened, "args=1:" + url + "\n/dev/null /dev/null /dev/null\n");
}
