#pragma once

// Helpers of the protocol tests: a control that records its log, and a real
// loopback connection whose server end is a WSocket and whose client end is a
// plain descriptor the test writes to and reads from.

#include "WException.h"
#include "WSocket.h"
#include "ZorvaneControl.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

class RecordingControl : public ZorvaneControl {
public:
    void start() override {}
    void stop() override {}
    void restart() override {}
    void onStarted() override {}
    void onStopped() override {}
    void onException(const WException& e) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        exceptions.push_back(e.toString().getBuf());
    }
    void log(const char* message, int level) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.emplace_back(level, message);
    }
    void command(int) override {}
    void onRequestFinished() override {}

    bool hasLine(int level, const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& l : lines)
            if (l.first == level && l.second == text)
                return true;
        return false;
    }
    std::vector<std::string> linesAt(int level)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (auto& l : lines)
            if (l.first == level)
                out.push_back(l.second);
        return out;
    }

    std::mutex mutex;
    std::vector<std::pair<int, std::string>> lines;
    std::vector<std::string> exceptions;
};

// One accepted loopback connection.
class LoopbackConnection {
public:
    LoopbackConnection()
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listener, (sockaddr*)&addr, sizeof addr) != 0 || listen(listener, 4) != 0 ||
            getsockname(listener, (sockaddr*)&addr, &len) != 0)
            ADD_FAILURE() << "listen: " << errno;
        port = ntohs(addr.sin_port);
        client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(client, (sockaddr*)&addr, sizeof addr) != 0)
            ADD_FAILURE() << "connect: " << errno;
        sockaddr_in peer{};
        len = sizeof peer;
        int fd = accept4(listener, (sockaddr*)&peer, &len, SOCK_CLOEXEC);
        if (fd < 0)
            ADD_FAILURE() << "accept: " << errno;
        server.init(fd, peer);
        server.setRecvTimeout(30000);
    }

    ~LoopbackConnection()
    {
        try {
            server.close();
        } catch (WException&) {
        }
        if (client >= 0)
            ::close(client);
        ::close(listener);
    }

    void send(const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(client, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                ADD_FAILURE() << "send: " << errno;
                return;
            }
            done += (size_t)n;
        }
    }

    void closeClient()
    {
        ::close(client);
        client = -1;
    }

    void shutdownClientWrite() { ::shutdown(client, SHUT_WR); }

    // Everything the server end sends until it closes (or 5 s pass).
    std::string receiveAll()
    {
        std::string out;
        char buf[65536];
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                           until - std::chrono::steady_clock::now())
                           .count();
            pollfd p{client, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                break;
            ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            out.append(buf, (size_t)n);
        }
        return out;
    }

    // Closes the server end (send side first) and returns what the client got.
    std::string finish()
    {
        try {
            server.close();
        } catch (WException&) {
        }
        return receiveAll();
    }

    int listener = -1;
    int client = -1;
    unsigned port = 0;
    WSocket server;
};
