#pragma once

// Shared by the server's tests (engine, scripting and the console program): a
// temporary site with its own cfg/ folder (the server reads cfg/ from the
// current directory), a control that records what the server reports, a raw
// HTTP client over loopback, and an output queue over a socket pair for the
// response tests.

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClientConnection.h"
#include "OutputQueue.h"
#include "ServerConfig.h"
#include "WException.h"
#include "WSocket.h"
#include "Zorvane.h"
#include "ZorvaneControl.h"
#include "ZorvaneVersion.h"

namespace servertest {

// Waits up to ms for condition; its last answer.
inline bool waitUntil(const std::function<bool()>& condition, int ms = 5000)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Sanitizer builds run several times slower; bounds that only catch stalls
// (not a count of workers) are multiplied by this.
#if defined(__SANITIZE_THREAD__)
constexpr int SLOWDOWN = 4;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int SLOWDOWN = 2;
#else
constexpr int SLOWDOWN = 1;
#endif

// Records log lines, exceptions and notifications; safe to call from any thread.
class RecordingControl : public ZorvaneControl {
public:
    struct Line {
        int level;
        std::string text;
    };

    void start() override { }
    void stop() override { }
    void restart() override { }
    void onStarted() override { started++; }
    void onStopped() override { stopped++; }
    void onException(const WException& e) override
    {
        std::lock_guard<std::mutex> guard(lock);
        exceptions.push_back(e.toString().getBuf());
        messages.push_back(e.getMessage().getBuf());
    }
    void log(const char* message, int level) override
    {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(Line {level, message});
    }
    // Levels above this one are not shown (the server need not log them).
    std::atomic<int> shownUpTo {3};
    bool isLogShown(int level) const override { return level <= shownUpTo.load(); }
    void command(int) override { }
    void onRequestFinished() override
    {
        finished++;
        if (whenFinished) {
            whenFinished();
        }
    }

    // Lines at level that contain text.
    int count(int level, const std::string& text)
    {
        settle();
        std::lock_guard<std::mutex> guard(lock);
        int n = 0;
        for (const Line& l : lines) {
            if (l.level == level && l.text.find(text) != std::string::npos) {
                n++;
            }
        }
        return n;
    }
    bool has(int level, const std::string& text) { return count(level, text) > 0; }
    // Whether a line at level is exactly text.
    bool hasLine(int level, const std::string& text)
    {
        settle();
        std::lock_guard<std::mutex> guard(lock);
        for (const Line& l : lines) {
            if (l.level == level && l.text == text) {
                return true;
            }
        }
        return false;
    }
    std::vector<std::string> linesAt(int level)
    {
        settle();
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> out;
        for (const Line& l : lines) {
            if (l.level == level) {
                out.push_back(l.text);
            }
        }
        return out;
    }
    std::vector<Line> snapshot()
    {
        settle();
        std::lock_guard<std::mutex> guard(lock);
        return lines;
    }
    // What reached onException, as toString() words it.
    std::vector<std::string> exceptionTexts()
    {
        settle();
        std::lock_guard<std::mutex> guard(lock);
        return exceptions;
    }
    // The same exceptions' messages alone.
    std::vector<std::string> exceptionMessages()
    {
        settle();
        std::lock_guard<std::mutex> guard(lock);
        return messages;
    }
    // Waits until a line at level containing text arrives.
    bool waitFor(int level, const std::string& text, int ms = 5000)
    {
        for (int waited = 0; waited < ms; waited += 10) {
            if (has(level, text)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return has(level, text);
    }

    // Called before every look at what arrived: the server's log lines reach
    // the control from a writer thread of their own.
    std::function<void()> settleLog;
    void settle()
    {
        if (settleLog) {
            settleLog();
        }
    }

    std::atomic<int> started {0};
    std::atomic<int> stopped {0};
    std::atomic<int> finished {0};
    std::function<void()> whenFinished;

private:
    std::mutex lock;
    std::vector<Line> lines;
    std::vector<std::string> exceptions;
    std::vector<std::string> messages;
};

inline void writeFile(const std::filesystem::path& path, const std::string& content, bool executable = false)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (executable) {
        ::chmod(path.c_str(), 0755);
    }
}

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A temporary folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        pattern += "/zorvane-test-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root = name.data();
    }
    ~TempFolder()
    {
        ::nftw(
            root.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Writes a file below the folder, making its folders.
    void write(const std::string& relative, const std::string& content) { writeFile(path(relative), content); }
    void makeFolders(const std::string& relative) { std::filesystem::create_directories(path(relative)); }
    std::string path(const std::string& relative) const { return root + "/" + relative; }

    std::string root;
};

// A temporary folder that becomes the current directory while it lives.
class TempSite : public TempFolder {
public:
    TempSite()
    {
        char buffer[PATH_MAX];
        previous = ::getcwd(buffer, sizeof buffer) ? buffer : "/";
        if (::chdir(root.c_str()) != 0) {
            throw std::runtime_error("chdir failed");
        }
    }
    ~TempSite()
    {
        if (::chdir(previous.c_str()) != 0) {
            // nothing sensible left to do
        }
    }

private:
    std::string previous;
};

// 127.0.0.1:port.
inline sockaddr_in loopbackAddress(unsigned port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A port nobody listens on right now, below the range the system hands out to
// outgoing connections (so another test's client cannot take it meanwhile).
inline unsigned freePort()
{
    static unsigned seed = (unsigned)::getpid() * 7919u + (unsigned)time(nullptr);
    for (int attempt = 0; attempt < 200; attempt++) {
        seed = seed * 1103515245u + 12345u;
        unsigned port = 20000 + (seed >> 8) % 12000;
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopbackAddress(port);
        bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (free) {
            return port;
        }
    }
    return 0;
}

// A client connection to the server on loopback.
class Client {
public:
    explicit Client(unsigned port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopbackAddress(port);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool send(const std::string& data)
    {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += (size_t)n;
        }
        return true;
    }
    void shutdownSend() { ::shutdown(fd, SHUT_WR); }
    void close()
    {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    // Everything until the server closes, or what came within ms.
    std::string readAll(int ms = 10000)
    {
        std::string out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        char buffer[65536];
        for (;;) {
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now())
                           .count();
            if (left <= 0) {
                timedOut = true;
                break;
            }
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) {
                continue;
            }
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                reset = errno == ECONNRESET;
                break;
            }
            if (n == 0) {
                break;
            }
            out.append(buffer, (size_t)n);
        }
        return out;
    }

    int fd = -1;
    bool connected = false;
    bool timedOut = false;
    bool reset = false;
};

// One request, sent whole; the answer up to the server's close.
inline std::string roundTrip(unsigned port, const std::string& request, int ms = 10000)
{
    Client client(port);
    if (!client.connected) {
        return "(not connected)";
    }
    client.send(request);
    return client.readAll(ms);
}

inline std::string get(unsigned port, const std::string& path)
{
    return roundTrip(port, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
}

// Sends what queue holds from server, as an event loop does, until it is
// empty or blocked for good, and returns what arrived at client.
inline std::string drainQueue(OutputQueue& queue, int server, int client)
{
    std::string got;
    char buffer[65536];
    for (int turns = 0; turns < 100000; ++turns) {
        uint64_t sent = 0;
        OutputQueue::Flush f = queue.flush(server, 1 << 20, sent);
        ssize_t n;
        while ((n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            got.append(buffer, (size_t)n);
        if (f != OutputQueue::Flush::Blocked) break;
    }
    return got;
}

// An answer's way out as the event loop has it: a stream that writes into
// the connection's output queue, sent over a socket pair.
class QueuedConnection {
public:
    QueuedConnection()
    {
        int fds[2]; // the server end non-blocking, as the server accepts them
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
            ADD_FAILURE() << "socketpair: " << errno;
        }
        server = fds[0];
        client = fds[1];
        stream.attach(output, nullptr, ClientConnection::Server::EventLoop, nullptr);
    }
    ~QueuedConnection()
    {
        stream.detach();
        output.reset();
        ::close(server);
        ::close(client);
    }
    QueuedConnection(const QueuedConnection&) = delete;
    QueuedConnection& operator=(const QueuedConnection&) = delete;

    // What the client receives of the queued answer.
    std::string receive() { return drainQueue(output, server, client); }

    int server = -1;
    int client = -1;
    OutputQueue output;
    ClientConnection stream;
};

// The status line of a response.
inline std::string statusLine(const std::string& response)
{
    return response.substr(0, response.find("\r\n"));
}

// The body of a response (after the first empty line).
inline std::string body(const std::string& response)
{
    size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : response.substr(at + 4);
}

// The error page the server sends for a status.
inline std::string errorPage(unsigned code, const std::string& reason, const std::string& message)
{
    return "HTTP/1.1 " + std::to_string(code) + " " + reason
        + "\r\nServer: " ZORVANE_WITH_PHP " V1.1\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
          "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>"
        + std::to_string(code) + " " + reason + "</title>\n</head><body>\n<h1>" + reason + "</h1>\n<p>" + message
        + "</p>\n</body></html>\n";
}

// Starts server on a free loopback port and notes the port in config.
inline void startOnFreePort(Zorvane& server, ZorvaneControl* control, ServerConfig& config)
{
    // Another test running at the same time may take the port first.
    for (int attempt = 0;; attempt++) {
        config.port = freePort();
        server.configure(control, config);
        try {
            server.start();
            return;
        } catch (WSocketException& e) {
            if (e.getId() != -7 || attempt == 10) {
                throw;
            }
        }
    }
}

// A site with documents in docs/, pictures outside it under pics/ (a virtual
// directory), a secret beside docs/ and the cfg/ files, and a server on it.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        site.write("cfg/mime.txt", "text/html html htm\ntext/css css\nimage/gif gif\ntext/plain txt\n");
        site.write("cfg/vdir.txt", "# pictures\n\n/img/;" + site.path("pics") + "\n");
        site.write("cfg/cgi.txt", ".php;PHPBuildIn\n.sh;/bin/sh\n");
        site.write("docs/index.html", "<h1>home</h1>");
        site.write("docs/style.css", "body{}");
        site.write("docs/sub/index.html", "sub index.html");
        site.write("docs/sub/index.php", "<?php echo 'sub index.php';");
        site.write("docs/Mixed/Case.TXT", "mixed case file");
        site.makeFolders("docs/empty");
        site.write("pics/Logo.GIF", "GIF89a-logo");
        site.write("secret.txt", "SECRET-OUTSIDE");
        site.write("docs/x.php", "<?php echo 'php ran';");
    }

    void TearDown() override { server.reset(); }

    // Builds and starts a server on a free port with the site's docs/ as root.
    void startServer()
    {
        config.host = "127.0.0.1";
        config.documentPath = (site.root + "/docs").c_str();
        server = std::make_unique<Zorvane>(&control, config);
        control.settleLog = [this] {
            if (server) server->flushLog();
        };
        startOnFreePort(*server, &control, config);
        port = config.port;
    }

    TempSite site;
    RecordingControl control;
    ServerConfig config;
    std::unique_ptr<Zorvane> server;
    unsigned port = 0;
};

} // namespace servertest
