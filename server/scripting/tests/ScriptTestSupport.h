#pragma once

// Helpers of the script tests: a control that records its log, a site in a
// temporary folder (cfg/ and www/, made the current directory, since the
// server reads cfg/ relative to it), a real server on a free loopback port,
// and a plain-socket HTTP client.

#include "WException.h"
#include "Zorvane.h"
#include "ZorvaneControl.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace scripttest {

class TestControl : public ZorvaneControl {
public:
    void start() override {}
    void stop() override {}
    void restart() override {}
    void onStarted() override {}
    void onStopped() override {}
    void onException(const WException& e) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        exceptions.push_back(e.getMessage().getBuf());
    }
    void log(const char* message, int level) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.emplace_back(level, message);
    }
    void command(int) override {}
    void onRequestFinished() override { ++finished; }

    std::vector<std::string> linesAt(int level)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (auto& l : lines)
            if (l.first == level) out.push_back(l.second);
        return out;
    }
    bool hasLineContaining(int level, const std::string& text)
    {
        for (auto& l : linesAt(level))
            if (l.find(text) != std::string::npos) return true;
        return false;
    }

    std::mutex mutex;
    std::vector<std::pair<int, std::string>> lines;
    std::vector<std::string> exceptions;
    std::atomic<int> finished{0};
};

inline void writeFile(const std::filesystem::path& path, const std::string& content, bool executable = false)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
    out.close();
    if (executable) chmod(path.c_str(), 0755);
}

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A temporary folder with cfg/ and www/, the current directory while it lives.
class TempSite {
public:
    TempSite()
    {
        char pattern[] = "/tmp/zv-script-XXXXXX";
        root = mkdtemp(pattern);
        std::filesystem::create_directories(root / "cfg");
        std::filesystem::create_directories(root / "www");
        writeFile(root / "cfg" / "mime.txt", "html;text/html\ntxt;text/plain\n");
        previous = std::filesystem::current_path();
        std::filesystem::current_path(root);
    }
    ~TempSite()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous, ignored);
        std::filesystem::remove_all(root, ignored);
    }
    std::filesystem::path www() const { return root / "www"; }

    std::filesystem::path root;
    std::filesystem::path previous;
};

inline unsigned freePort()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    close(s);
    return ntohs(addr.sin_port);
}

// A server on a free loopback port, serving the site's www folder.
class TestServer {
public:
    explicit TestServer(const TempSite& site)
    {
        ServerConfig config;
        config.host = "127.0.0.1";
        config.port = freePort();
        config.documentPath = site.www().c_str();
        server = std::make_unique<Zorvane>(&control, config);
        server->start();
        port = config.port;
    }
    ~TestServer()
    {
        try {
            server->stop(true, 5000);
        } catch (...) {
        }
        server.reset();
    }

    TestControl control;
    std::unique_ptr<Zorvane> server;
    unsigned port = 0;
};

inline int connectTo(unsigned port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(s);
        return -1;
    }
    return s;
}

inline bool sendAll(int s, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(s, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Everything the server sends until it closes (or timeoutMs passes).
inline std::string receiveAll(int s, int timeoutMs = 20000)
{
    std::string out;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        ssize_t n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

// One request, the whole answer.
inline std::string httpExchange(unsigned port, const std::string& request, int timeoutMs = 20000)
{
    int s = connectTo(port);
    if (s < 0) return "";
    sendAll(s, request);
    std::string answer = receiveAll(s, timeoutMs);
    close(s);
    return answer;
}

inline std::string get(unsigned port, const std::string& path, const std::string& extraHeaders = "")
{
    return httpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n" +
                              extraHeaders + "\r\n");
}

// The body after the header block's empty line ("\n\n" or "\r\n\r\n").
inline std::string bodyOf(const std::string& answer)
{
    size_t lf = answer.find("\n\n");
    size_t crlf = answer.find("\r\n\r\n");
    if (lf == std::string::npos && crlf == std::string::npos) return "";
    if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) return answer.substr(crlf + 4);
    return answer.substr(lf + 2);
}

inline std::string statusLineOf(const std::string& answer)
{
    return answer.substr(0, answer.find('\n'));
}

} // namespace scripttest
