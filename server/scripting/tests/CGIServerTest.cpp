// CGI programs end to end: a real server in a temporary folder runs small
// shell scripts through /bin/sh.

#include "CGIProcess.h"
#include "ScriptVariables.h"
#include "ScriptTestSupport.h"

#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <thread>
#include "ZorvaneVersion.h"

using namespace scripttest;
using servertest::waitUntil;

namespace {

const std::string HEADER_BLOCK = "HTTP/1.1 200 OK\r\nServer: " ZORVANE_WITH_PHP " V1.1\r\nConnection: close\r\n";
const std::string TEXT = "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n";

// What a program writes, and what the client gets: the status line and what
// follows the server's header lines, or a 502 with a short text.
struct OutputCase {
    const char* name;
    std::string output;
    std::string statusLine;
    std::string rest; // after the server's lines; for a 502 a text its page holds
};

const OutputCase OUTPUT_CASES[] = {
    {"status-404", "Status: 404 Not Found\r\nContent-Type: text/plain\r\n\r\ngone", "HTTP/1.1 404 Not Found",
        "Content-Type: text/plain\r\n\r\ngone"},
    {"status-bare", "Content-Type: text/plain\nstatus:   503\n\nbusy", "HTTP/1.1 503 Service Unavailable",
        "Content-Type: text/plain\r\n\r\nbusy"},
    {"status-own-reason", "Status: 299 All Fine\r\n\r\n", "HTTP/1.1 299 All Fine", "\r\n"},
    {"location", "Location: http://example.test/\r\n\r\n", "HTTP/1.1 302 Moved Temporarily",
        "Location: http://example.test/\r\n\r\n"},
    {"location-status", "Status: 301 Moved Permanently\r\nLocation: /new\r\n\r\n", "HTTP/1.1 301 Moved Permanently",
        "Location: /new\r\n\r\n"},
    {"status-in-body", "X-A: 1\r\n\r\nStatus: 500 Oops\r\n", "HTTP/1.1 200 OK", "X-A: 1\r\n\r\nStatus: 500 Oops\r\n"},
    {"no-colon", "Content-Type text/plain\r\n\r\nx", "HTTP/1.1 502 Bad Gateway", "malformed header line"},
    {"blank-in-name", "Content Type: text/plain\r\n\r\nx", "HTTP/1.1 502 Bad Gateway", "malformed header line"},
    {"folded", "X-A: 1\r\n continued\r\n\r\nx", "HTTP/1.1 502 Bad Gateway", "malformed header line"},
    {"bare-cr", "X-A: 1\rX-B: 2\r\n\r\nx", "HTTP/1.1 502 Bad Gateway", "malformed header line"},
    {"status-word", "Status: OK\r\n\r\nx", "HTTP/1.1 502 Bad Gateway", "malformed Status line"},
    {"status-twice", "Status: 200 OK\r\nStatus: 404 Not Found\r\n\r\n", "HTTP/1.1 502 Bad Gateway",
        "malformed Status line"},
    {"status-interim", "Status: 100 Continue\r\n\r\n", "HTTP/1.1 502 Bad Gateway", "malformed Status line"},
    {"unfinished", "Content-Type: text/plain\r\n", "HTTP/1.1 502 Bad Gateway", "ended within its header lines"},
    {"html-only", "<html>hello</html>", "HTTP/1.1 502 Bad Gateway", "ended within its header lines"},
    {"status-line", "HTTP/1.1 200 OK\r\n\r\nx", "HTTP/1.1 502 Bad Gateway", "malformed header line"},
};

class CGISite : public SharedSite {
protected:
    void fill(ScriptSite& target) override
    {
        writeFile(target.path("cfg/cgi.txt"),
            "# test interpreters\n"
            ".sh;/bin/sh\n"
            ".lookup;sh\n"
            ".strict;/bin/sh -e\n"
            ".nosuch;/no/such/interpreter\n");
        std::filesystem::path www = target.www();
        writeFile(www / "hello.sh", "printf 'Content-Type: text/plain\\r\\n\\r\\nhello'\n");
        writeFile(www / "hello.lookup", "printf 'Content-Type: text/plain\\r\\n\\r\\nfound'\n");
        writeFile(www / "args.strict", TEXT + "printf '%s|' \"$#\" \"$0\" \"$@\"\n");
        writeFile(www / "env.sh", TEXT + "cat /proc/$$/environ\n");
        writeFile(www / "echo.sh", TEXT + "cat\n");
        writeFile(www / "env-body.sh", TEXT + "printf '%s|' \"$CONTENT_LENGTH\"\ncat\n");
        writeFile(www / "ignore.sh", TEXT + "head -c 1048576 /dev/zero | tr '\\0' a\n");
        writeFile(www / "stderr-first.sh", "head -c 1048576 /dev/zero | tr '\\0' e >&2\n" + TEXT + "printf out\n");
        writeFile(www / "stderr-only.sh", "echo oops >&2\n");
        writeFile(www / "silent.sh", "exit 0\n");
        writeFile(www / "status.sh", "printf 'Status: 404 Not Found\\r\\n'\n" + TEXT + "printf gone\n");
        writeFile(www / "fds.sh", TEXT + "ls -l /proc/$$/fd\n");
        writeFile(www / "endless.sh", TEXT + "echo $$ > endless.pid\nwhile :; do echo tick; sleep 0.05; done\n");
        writeFile(www / "quiet.sh", TEXT + "echo $$ > quiet.pid\nexec sleep 30\n");
        // Quiet after its header lines, with a child of its own.
        writeFile(www / "waiting.sh",
            "sleep 30 & echo $! > waiting-child.pid\necho $$ > waiting.pid\n" + TEXT + "printf started\nwait\n");
        // Quiet before any output.
        writeFile(www / "mute.sh", "echo $$ > mute.pid\nexec sleep 30\n");
        // Leaves a child behind that keeps no output open...
        writeFile(www / "detached.sh", "sleep 30 >/dev/null 2>&1 & echo $! > detached.pid\n" + TEXT + "printf done\n");
        // ...and one that holds standard output open.
        writeFile(www / "holder.sh", "sleep 30 & echo $! > holder.pid\n" + TEXT + "printf done\n");
        writeFile(www / "crash.sh", "echo 'about to crash' >&2\nkill -SEGV $$\n");
        writeFile(www / "fails.sh", "exit 3\n");
        writeFile(www / "x.nosuch", "");
        writeFile(www / "crash-late.sh", TEXT + "printf partial\nkill -SEGV $$\n");
        writeFile(www / "warns.sh", TEXT + "printf out\nprintf 'warn \\033[31mred\\n' >&2\n");
        writeFile(www / "huge-head.sh", "printf 'X-A: '\nhead -c 70000 /dev/zero | tr '\\0' a\n");
        writeFile(www / "head.sh", TEXT + "printf 'not for HEAD'\n");
        writeFile(www / "slow-head.sh",
            "printf 'Content-Type: text/plain\\r\\n'\nsleep 0.2\n"
            "printf 'Status: 201 Created\\r\\n'\nsleep 0.2\nprintf '\\r\\nok'\n");
        for (const OutputCase& c : OUTPUT_CASES) {
            writeFile(target.path(std::string("out/") + c.name), c.output);
            writeFile(www / (std::string(c.name) + ".sh"), "cat '" + target.path(std::string("out/") + c.name) + "'\n");
        }
    }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new CGISite);

unsigned port()
{
    return CGISite::server->port;
}

std::filesystem::path www()
{
    return CGISite::site->www();
}

std::string post(const std::string& path, const std::string& body)
{
    return httpExchange(port(),
        "POST " + path
            + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/octet-stream\r\n"
              "Content-Length: "
            + std::to_string(body.size()) + "\r\n\r\n" + body);
}

std::string cgiBody(const std::string& answer)
{
    return answer.compare(0, HEADER_BLOCK.size(), HEADER_BLOCK) == 0 ? bodyOf(answer.substr(HEADER_BLOCK.size()))
                                                                     : "(no header block) " + answer;
}

bool processGone(pid_t pid)
{
    // kill() still reaches a zombie; ESRCH means ended and reaped.
    return kill(pid, 0) != 0 && errno == ESRCH;
}

// A process the program started ends up with another parent, which reaps it
// when it gets round to it: a zombie has ended all the same.
bool processEnded(pid_t pid)
{
    if (processGone(pid)) return true;
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && stat.compare(close, 3, ") Z") == 0;
}

pid_t readPid(const std::string& name)
{
    pid_t pid = 0;
    waitUntil([&] {
        // Programs run in their own folder.
        pid = atoi(readFile(www() / name).c_str());
        return pid > 0;
    });
    return pid;
}

// Children of this process that have ended but were not reaped.
int zombieChildren()
{
    int zombies = 0;
    DIR* proc = opendir("/proc");
    while (dirent* e = readdir(proc)) {
        std::string stat = readFile(std::string("/proc/") + e->d_name + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == getpid() && state == 'Z')
            zombies++;
    }
    closedir(proc);
    return zombies;
}

size_t openDescriptors()
{
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)e;
        n++;
    }
    return n;
}

} // namespace

TEST(CGIServer, OutputFollowsTheServersHeaderLinesByteForByte)
{
    EXPECT_EQ(HEADER_BLOCK + "Content-Type: text/plain\r\n\r\nhello", get(port(), "/hello.sh"));
    // The interpreter is looked up in the server's PATH.
    EXPECT_EQ(HEADER_BLOCK + "Content-Type: text/plain\r\n\r\nfound", get(port(), "/hello.lookup"));
    // Header lines that arrive in pieces are put together.
    EXPECT_EQ("HTTP/1.1 201 Created", statusLine(get(port(), "/slow-head.sh")));
}

TEST(CGIServer, StatusLineAndMalformedOutput)
{
    const std::string serverLines = "\r\nServer: " ZORVANE_WITH_PHP " V1.1\r\n";
    for (const OutputCase& c : OUTPUT_CASES) {
        SCOPED_TRACE(c.name);
        std::string answer = get(port(), std::string("/") + c.name + ".sh");
        ASSERT_EQ(c.statusLine, statusLine(answer)) << answer;
        if (c.statusLine.find(" 502 ") == std::string::npos) {
            EXPECT_EQ(c.statusLine + serverLines + "Connection: close\r\n" + c.rest, answer);
        } else {
            EXPECT_NE(std::string::npos, answer.find(c.rest)) << answer;
            // A short text of our own, nothing of the program's output, no path.
            EXPECT_EQ(std::string::npos, answer.find(www().string())) << answer;
            EXPECT_TRUE(CGISite::server->control.has(-1, std::string(c.name) + ".sh: The CGI program"));
        }
    }
    std::string answer = get(port(), "/huge-head.sh");
    EXPECT_EQ("HTTP/1.1 502 Bad Gateway", statusLine(answer));
    EXPECT_NE(std::string::npos, answer.find("header lines are too large")) << answer.substr(0, 300);
}

TEST(CGIServer, CrashOrSilenceBeforeOutputAnswers502)
{
    struct {
        const char* path;
        const char* text;
    } cases[] = {
        {"/crash.sh", "The CGI program ended by signal 11 (SIGSEGV) before any output."},
        {"/fails.sh", "The CGI program ended with exit code 3 before any output."},
        {"/silent.sh", "The CGI program ended with exit code 0 before any output."},
        {"/stderr-only.sh", "The CGI program ended with exit code 0 before any output."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string answer = get(port(), c.path);
        EXPECT_EQ("HTTP/1.1 502 Bad Gateway", statusLine(answer));
        EXPECT_NE(std::string::npos, answer.find(std::string("<p>") + c.text + "</p>")) << answer;
        EXPECT_TRUE(CGISite::server->control.has(-1, std::string(c.path).substr(1) + ": " + c.text));
    }
    // What it said on standard error before dying is in the log.
    EXPECT_TRUE(CGISite::server->control.has(-1, "crash.sh: about to crash"));

    // A crash after the header lines cannot change the answer any more, but
    // it is logged.
    EXPECT_EQ("partial", cgiBody(get(port(), "/crash-late.sh")));
    EXPECT_TRUE(waitUntil([] {
        return CGISite::server->control.has(-1, "crash-late.sh: The CGI program ended by signal 11 (SIGSEGV).");
    }));
}

TEST(CGIServer, HeadRequestGetsNoBody)
{
    std::string answer = httpExchange(port(), "HEAD /head.sh HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(HEADER_BLOCK + "Content-Type: text/plain\r\n\r\n", answer);
}

TEST(CGIServer, ChildGetsTheRequestAndNothingOfTheServer)
{
    std::string answer = get(port(), "/env.sh/more/path?x=1&y=%41",
        "User-Agent: probe\r\nCookie: c=1\r\nX-Trace-Id: 7\r\nAuthorization: Basic YTpi\r\nProxy: http://evil/\r\n");
    std::string block = cgiBody(answer);
    std::map<std::string, std::string> values;
    for (size_t start = 0; start < block.size();) {
        size_t end = block.find('\0', start);
        if (end == std::string::npos) end = block.size();
        std::string entry = block.substr(start, end - start);
        std::string name = entry.substr(0, entry.find('='));
        EXPECT_EQ(0u, values.count(name)) << name;
        values[name] = entry.substr(name.size() + 1);
        start = end + 1;
    }
    EXPECT_EQ("CGI/1.1", values["GATEWAY_INTERFACE"]);
    EXPECT_EQ(ZORVANE_WITH_PHP " V1.1", values["SERVER_SOFTWARE"]);
    EXPECT_EQ(ScriptVariables::SERVER_ADMIN, values["SERVER_ADMIN"]);
    EXPECT_EQ(values["SERVER_HOST"], values["SERVER_NAME"]);
    EXPECT_EQ("localhost:" + std::to_string(port()), values["HTTP_HOST"]);
    EXPECT_EQ("probe", values["HTTP_USER_AGENT"]);
    EXPECT_EQ("c=1", values["HTTP_COOKIE"]);
    EXPECT_EQ("7", values["HTTP_X_TRACE_ID"]);
    EXPECT_EQ("/more/path", values["PATH_INFO"]);
    EXPECT_EQ("/env.sh", values["SCRIPT_NAME"]);
    EXPECT_EQ("x=1&y=%41", values["QUERY_STRING"]);
    EXPECT_EQ("GET", values["REQUEST_METHOD"]);
    EXPECT_EQ((www() / "env.sh").string(), values["SCRIPT_FILENAME"]);
    // Neither credentials nor a proxy of the client's choosing, nothing that
    // was not sent, and nothing of the server's own environment.
    for (const char* absent : {"HTTP_AUTHORIZATION", "HTTP_PROXY", "HTTP_REFERER", "CONTENT_LENGTH", "CONTENT_TYPE",
             "REMOTE_USER", "PATH"}) {
        EXPECT_EQ(0u, values.count(absent)) << absent;
    }
}

TEST(CGIServer, PostBodyArrivesWholeThenEndOfFile)
{
    std::string body;
    for (int i = 0; i < 10000; i++)
        body += static_cast<char>(i * 7 % 251);
    EXPECT_EQ(body, cgiBody(post("/echo.sh", body)));
    // Without a body the program's input ends at once.
    EXPECT_EQ("", cgiBody(get(port(), "/echo.sh")));
}

TEST(CGIServer, ProgramThatIgnoresItsInputStillCompletes)
{
    std::string body(1 << 20, 'b');
    std::string answer = post("/ignore.sh", body);
    EXPECT_EQ(std::string(1 << 20, 'a'), cgiBody(answer));
}

TEST(CGIServer, StandardErrorGoesToTheLogNeverToTheClient)
{
    // 1 MB of stderr before any stdout must not stall the program.
    std::string answer = get(port(), "/stderr-first.sh");
    EXPECT_EQ("out", cgiBody(answer)) << answer.size();
    EXPECT_TRUE(CGISite::server->control.has(-1, "(983040 more bytes of error output dropped)"));

    std::string path = (www() / "warns.sh").string();
    answer = get(port(), "/warns.sh");
    EXPECT_EQ("out", cgiBody(answer));
    // Control bytes are escaped, and the line names the program.
    EXPECT_TRUE(waitUntil([&] { return CGISite::server->control.hasLine(-1, "CGI " + path + ": warn \\x1b[31mred"); }));
}

TEST(CGIServer, ArgumentsAreSplitWithoutAShell)
{
    std::string answer = get(port(), "/args.strict/x");
    EXPECT_EQ("0|" + (www() / "args.strict").string() + "|", cgiBody(answer));

    // Shell syntax in the URL reaches the interpreter as part of one argument.
    answer = get(port(), "/a;touch${IFS}pwned;$(touch${IFS}pwned2)`touch${IFS}pwned3`.sh");
    for (const char* name : {"pwned", "pwned2", "pwned3"}) {
        EXPECT_FALSE(std::filesystem::exists(www() / name));
        EXPECT_FALSE(std::filesystem::exists(CGISite::site->path(name)));
    }
}

TEST(CGIServer, MissingInterpreterAnswers500)
{
    std::string answer = get(port(), "/x.nosuch");
    EXPECT_EQ("HTTP/1.1 500 Internal Server Error", statusLine(answer));
    std::string message = "Cannot create process: /no/such/interpreter " + (www() / "x.nosuch").string();
    EXPECT_NE(std::string::npos, answer.find(message)) << answer;
    std::vector<std::string> messages = CGISite::server->control.exceptionMessages();
    EXPECT_TRUE(std::count(messages.begin(), messages.end(), message) >= 1);
}

TEST(CGIServer, NoZombieNoStrayDescriptor)
{
    auto burst = [] {
        std::vector<std::future<std::string>> answers;
        for (int i = 0; i < 40; i++)
            answers.push_back(std::async(std::launch::async, [] { return get(port(), "/hello.sh"); }));
        for (auto& a : answers)
            EXPECT_EQ("hello", cgiBody(a.get()));
    };
    // The first burst wakes every worker, and workers set up what they keep.
    burst();
    size_t before = openDescriptors();
    burst();
    EXPECT_TRUE(waitUntil([] { return zombieChildren() == 0; }));
    EXPECT_TRUE(waitUntil([&] { return openDescriptors() <= before; })) << openDescriptors() << " > " << before;

    // The child holds its three pipe ends and nothing of the server's.
    std::string listing = cgiBody(get(port(), "/fds.sh"));
    std::map<std::string, std::string> fds;
    std::stringstream s(listing);
    std::string line;
    while (std::getline(s, line)) {
        // "lr-x------ 1 user group 64 Dec  8 20:32 0 -> pipe:[123]"
        size_t arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        size_t name = line.rfind(' ', arrow - 1) + 1;
        fds[line.substr(name, arrow - name)] = line.substr(arrow + 4);
    }
    ASSERT_EQ(1u, fds.count("0")) << listing;
    for (auto& [fd, target] : fds) {
        EXPECT_EQ(std::string::npos, target.find("socket:")) << fd << " " << target;
        if (target.find("pipe:") == 0 && fd != "0" && fd != "1" && fd != "2") {
            EXPECT_TRUE(target == fds["0"] || target == fds["1"] || target == fds["2"]) << fd << " " << target;
        }
    }
}

TEST(CGIServer, ChildIsKilledWhenTheClientLeaves)
{
    std::filesystem::remove(www() / "endless.pid");
    Client client(port());
    ASSERT_TRUE(client.connected);
    client.send("GET /endless.sh HTTP/1.1\r\nHost: x\r\n\r\n");
    char buffer[256];
    ASSERT_GT(recv(client.fd, buffer, sizeof buffer, 0), 0);
    pid_t pid = readPid("endless.pid");
    ASSERT_GT(pid, 0);
    linger off {1, 0};
    setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    client.close();
    EXPECT_TRUE(waitUntil([&] { return processGone(pid); }));
}

TEST(CGIServer, ChildIsKilledAtTheTimeLimit)
{
    std::filesystem::remove(www() / "quiet.pid");
    CGIProcess::setTimeLimit(1);
    auto started = std::chrono::steady_clock::now();
    std::string answer = get(port(), "/quiet.sh");
    CGIProcess::setTimeLimit(300);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ("", cgiBody(answer));
    pid_t pid = readPid("quiet.pid");
    EXPECT_TRUE(waitUntil([&] { return processGone(pid); }));
    EXPECT_TRUE(CGISite::server->control.has(-1, "CGI program killed after 1 seconds"));

    // Nothing at all came before the limit: the client is told so.
    CGIProcess::setTimeLimit(1);
    answer = get(port(), "/mute.sh");
    CGIProcess::setTimeLimit(300);
    EXPECT_EQ("HTTP/1.1 504 Gateway Timeout", statusLine(answer));
    EXPECT_NE(std::string::npos, answer.find("The CGI program did not answer within 1 seconds.")) << answer;
}

TEST(CGIServer, QuietChildIsKilledPromptlyWhenTheClientLeaves)
{
    // Neither program writes anything after the client has gone, so only
    // watching the socket tells.
    struct {
        const char* path;
        const char* pidFile;
        const char* childPidFile;
        bool readFirst;
    } cases[] = {
        {"/waiting.sh", "waiting.pid", "waiting-child.pid", true},
        {"/mute.sh", "mute.pid", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::filesystem::remove(www() / c.pidFile);
        if (c.childPidFile != nullptr) std::filesystem::remove(www() / c.childPidFile);
        Client client(port());
        ASSERT_TRUE(client.connected);
        client.send(std::string("GET ") + c.path + " HTTP/1.1\r\nHost: x\r\n\r\n");
        if (c.readFirst) {
            char buffer[512];
            ASSERT_GT(recv(client.fd, buffer, sizeof buffer, 0), 0);
        }
        pid_t pid = readPid(c.pidFile);
        pid_t child = c.childPidFile != nullptr ? readPid(c.childPidFile) : 0;
        ASSERT_GT(pid, 0);
        client.close();
        EXPECT_TRUE(waitUntil([&] { return processGone(pid); }, 3000));
        if (child > 0) {
            EXPECT_TRUE(waitUntil([&] { return processEnded(child); }, 3000));
        }
        EXPECT_TRUE(waitUntil([] { return CGISite::server->control.has(2, "the client has gone"); }));
    }
}

TEST(CGIServer, ChildrenOfTheProgramEndWithIt)
{
    for (const char* name : {"detached", "holder"}) {
        SCOPED_TRACE(name);
        std::string pidFile = std::string(name) + ".pid";
        std::filesystem::remove(www() / pidFile);
        auto started = std::chrono::steady_clock::now();
        // A child holding standard output open does not hold the answer.
        EXPECT_EQ("done", cgiBody(get(port(), std::string("/") + name + ".sh")));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        pid_t child = readPid(pidFile);
        ASSERT_GT(child, 0);
        EXPECT_TRUE(waitUntil([&] { return processEnded(child); }, 3000));
    }
}

TEST(CGIServer, MisbehavingProgramsLeaveNoDescriptorNoProcess)
{
    // Warm up: the first request of a kind may open what stays open (lookup
    // caches and the like).
    get(port(), "/hello.sh");
    size_t before = openDescriptors();

    std::vector<std::string> paths = {"/crash.sh", "/no-colon.sh", "/huge-head.sh", "/holder.sh", "/detached.sh",
        "/crash-late.sh", "/stderr-first.sh", "/x.nosuch"};
    for (const std::string& path : paths)
        get(port(), path);
    for (const char* path : {"/mute.sh", "/endless.sh"}) {
        Client client(port());
        client.send(std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        client.close();
    }
    CGIProcess::setTimeLimit(1);
    get(port(), "/quiet.sh");
    CGIProcess::setTimeLimit(300);

    EXPECT_TRUE(waitUntil([&] { return openDescriptors() <= before; })) << openDescriptors() << " > " << before;
    EXPECT_TRUE(waitUntil([] { return zombieChildren() == 0; }));
}

TEST(CGIServer, ChunkedBodyArrivesDecodedWithItsLength)
{
    std::string chunked = "POST /env-body.sh HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "5\r\nhello\r\n1;ext=1\r\n \r\n6\r\nworld!\r\n0\r\nX-Trailer: t\r\n\r\n";
    std::string answer = httpExchange(port(), chunked);
    EXPECT_EQ("12|hello world!", cgiBody(answer)) << answer;

    // Larger than one read, in pieces of uneven size.
    std::string body;
    std::string wire;
    for (int i = 0; i < 300; i++) {
        std::string piece(static_cast<size_t>(i * 7 % 500 + 1), static_cast<char>('a' + i % 26));
        body += piece;
        char size[16];
        snprintf(size, sizeof size, "%zx\r\n", piece.size());
        wire += size + piece + "\r\n";
    }
    wire += "0\r\n\r\n";
    answer = httpExchange(port(), "POST /env-body.sh HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" + wire);
    EXPECT_EQ(std::to_string(body.size()) + "|" + body, cgiBody(answer));
}

TEST(CGIServer, ExpectContinueGetsTheBodyWithoutDelay)
{
    // The body is larger than what the server reads before a worker starts.
    std::string body(200000, 'x');
    Client client(port());
    ASSERT_TRUE(client.connected);
    client.send("POST /echo.sh HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: " + std::to_string(body.size())
        + "\r\n\r\n");
    // The client waits for the interim answer before it sends the body.
    std::string interim;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    char c;
    while (interim.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < until) {
        pollfd p {client.fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0 && recv(client.fd, &c, 1, 0) == 1) interim += c;
    }
    ASSERT_EQ("HTTP/1.1 100 Continue\r\n\r\n", interim);
    client.send(body);
    std::string answer = client.readAll(5000);
    EXPECT_EQ(body.size(), cgiBody(answer).size());
}
