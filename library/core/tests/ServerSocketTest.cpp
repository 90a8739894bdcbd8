#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "RunBody.h"
#include "WException.h"
#include "WIPAddress.h"
#include "WSemaphore.h"
#include "WServerSocket.h"
#include "WSocket.h"
#include "WSocketUtils.h"

TEST(ServerSocketTest, PortZeroReportsTheChosenPort)
{
    WServerSocket s(WIPAddress("127.0.0.1", 0), 10);
    EXPECT_EQ(s.getBacklog(), 10);
    s.create();
    EXPECT_GT(s.getPort(), 0ul);
    EXPECT_STREQ(WSocketUtils::ipAddr2String(s.getAddress().sin_addr.s_addr), "127.0.0.1");

    WServerSocket any(0ul);
    EXPECT_EQ(any.getBacklog(), 1);
    any.create();
    EXPECT_GT(any.getPort(), 0ul);
    EXPECT_EQ(any.getAddress().sin_addr.s_addr, 0u);
}

TEST(ServerSocketTest, ABusyPortFailsTheBindAndKeepsTheSocket)
{
    WServerSocket first(WIPAddress("127.0.0.1", 0), 1);
    first.create();
    WServerSocket second(WIPAddress("127.0.0.1", first.getPort()), 1);
    try {
        second.create();
        FAIL() << "bound twice";
    } catch (WSocketException& e) {
        EXPECT_STREQ(e.getMessage(), WFormattedString("Cannot bind to 127.0.0.1:%u", (unsigned)first.getPort()));
        EXPECT_EQ(e.getId(), -7);
        EXPECT_EQ(e.getSysErrCode(), (unsigned long)EADDRINUSE);
    }
    EXPECT_TRUE(second.isOpen());
    second.close();
    EXPECT_FALSE(second.isOpen());
}

TEST(ServerSocketTest, ANonBlockingListenerWithNothingPendingReturnsFalse)
{
    WServerSocket s(WIPAddress("127.0.0.1", 0), 1);
    s.create();
    ASSERT_TRUE(s.setNonBlocking(true));
    WSocket client;
    EXPECT_FALSE(s.accept(client));
    EXPECT_FALSE(client.isOpen());
}

// The server's stop: a thread blocks in accept, another connects once to wake it.
class AcceptWake : public testing::TestWithParam<const char*> { };

TEST_P(AcceptWake, ASelfConnectWakesABlockedAccept)
{
    WServerSocket server(WIPAddress(GetParam(), 0), 10);
    server.create();
    std::atomic<bool> accepted {false};
    WIPAddress peer;
    RunBody acceptor([&] {
        WSocket client;
        accepted = server.accept(client);
        client.getPeerName(peer);
    });
    ASSERT_TRUE(acceptor.start());
    EXPECT_FALSE(acceptor.t().join(50));
    Stopwatch w;
    WSocketUtils::ping(server);
    ASSERT_TRUE(acceptor.t().join(5000));
    EXPECT_LT(w.ms(), 1000);
    EXPECT_TRUE(accepted.load());
    EXPECT_STREQ(peer.getIpAddressStr(), "127.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(LoopbackAndAny, AcceptWake, testing::Values("127.0.0.1", ""));

TEST(ServerSocketTest, PingOfAClosedServerFails)
{
    WServerSocket server(WIPAddress("127.0.0.1", 0), 1);
    server.create();
    unsigned port = (unsigned)server.getPort();
    server.close(); // the address stays in the object; nobody listens there now
    try {
        WSocketUtils::ping(server);
        FAIL() << "ping got through";
    } catch (WSocketException& e) {
        EXPECT_STREQ(e.getMessage(), WFormattedString("Cannot connect to 127.0.0.1:%u", port));
        EXPECT_EQ(e.getId(), -2);
    }
}

TEST(ServerSocketTest, AcceptGivesUpTheClientsOldShareOnly)
{
    WServerSocket server(WIPAddress("127.0.0.1", 0), 5);
    server.create();
    WSocket a(WIPAddress("127.0.0.1", server.getPort()));
    WSocket b(WIPAddress("127.0.0.1", server.getPort()));
    a.connect();
    b.connect();

    WSocket client, worker;
    ASSERT_TRUE(server.accept(client));
    worker = client; // handed over by copy
    ASSERT_TRUE(server.accept(client)); // the next connection replaces the share
    EXPECT_NE(client.getHandle(), worker.getHandle());
    worker.writeln("first");
    client.writeln("second");
    WString line;
    ASSERT_TRUE(a.readln(line));
    EXPECT_STREQ(line, "first");
    ASSERT_TRUE(b.readln(line));
    EXPECT_STREQ(line, "second");
}

// What the library start-up goal asks: listen on a port, accept a connection
// and exchange lines, with the server side on a thread of its own.
class EchoServer : public WRunable {
public:
    EchoServer()
    {
        listener.init(WIPAddress("127.0.0.1", 0));
        listener.setBacklog(5);
        listener.create();
    }
    ~EchoServer() override
    {
        stop = true;
        WSocketUtils::ping(listener);
        thread.join(5000);
    }

    bool start() { return thread.start(this); }

    void run() override
    {
        WSocket client;
        while (listener.accept(client) && !stop) {
            client.setRecvTimeout(5000);
            WString line;
            while (client.readln(line)) {
                if (line.length() == 0) break;
                line.toUpperCase();
                client.writeln(line);
            }
            client.writeln("BYE");
            served++;
            client.close();
        }
    }

    WServerSocket listener;
    std::atomic<bool> stop {false};
    std::atomic<int> served {0};
};

TEST(ServerSocketTest, ListenAcceptAndExchangeLines)
{
    EchoServer server;
    ASSERT_TRUE(server.start());
    for (int round = 0; round < 3; round++) {
        WSocket c(WIPAddress("localhost", server.listener.getPort()));
        c.connect();
        c.writeln("hello");
        c.write("second line\r\n");
        WString line;
        ASSERT_TRUE(c.readln(line));
        EXPECT_STREQ(line, "HELLO");
        ASSERT_TRUE(c.readln(line));
        EXPECT_STREQ(line, "SECOND LINE");
        c.writeln("");
        ASSERT_TRUE(c.readln(line));
        EXPECT_STREQ(line, "BYE");
        EXPECT_FALSE(c.readln(line)); // the server closed
    }
    EXPECT_EQ(server.served.load(), 3);
}

// The shape of the HTTP server: a listening thread hands each connection by
// copy to the first idle worker of a pool; workers read a request line and
// answer; the stop wakes the accept with a self-connect, then stops the
// workers, killing one that does not end in time.
namespace {

class PoolWorker : public WRunable {
public:
    ~PoolWorker() override { stop(1000); }

    void start()
    {
        stopRequested = false;
        busy = false;
        ready.create(0);
        thread.start(this);
    }

    void stop(unsigned long ms)
    {
        if (!thread.isActive()) return;
        stopRequested = true;
        ready.signal();
        if (!thread.join(ms)) {
            thread.kill();
            killed++;
        }
        busy = false;
    }

    bool assign(const WSocket& s)
    {
        if (busy) return false;
        client = s;
        busy = true;
        ready.signal();
        return true;
    }

    void run() override
    {
        while (!stopRequested) {
            busy = false;
            ready.wait(0);
            if (stopRequested) break;
            busy = true;
            try {
                WString line, request;
                while (client.readln(line) && line.length() > 0)
                    if (request.length() == 0) request = line;
                client.write("OK ");
                client.writeln(request);
                served++;
            } catch (WSocketException&) {
            }
            client.close();
        }
    }

    std::atomic<bool> busy {false};
    std::atomic<bool> stopRequested {false};
    std::atomic<int> served {0};
    std::atomic<int> killed {0};
    WSemaphore ready;
    WSocket client;
};

class PoolServer : public WRunable {
public:
    static constexpr int WORKERS = 4;

    ~PoolServer() override { stop(); }

    void start()
    {
        listener.init(WIPAddress("", 0)); // any address: the wake goes to 127.0.0.1
        listener.setBacklog(16);
        listener.create();
        stopRequested = false;
        thread.start(this);
        thread.setPriority(WThread::PRIORITY_HIGHEST);
    }

    void stop()
    {
        if (!thread.isActive()) return;
        stopRequested = true;
        WSocketUtils::ping(listener);
        if (!thread.join(5000)) thread.kill();
    }

    void run() override
    {
        for (auto& w : workers)
            w.start();
        WSocket client;
        unsigned next = 0;
        while (listener.accept(client) && !stopRequested) {
            client.setRecvTimeout(5000);
            bool handed = false;
            while (!handed && !stopRequested) {
                for (int i = 0; i < WORKERS && !handed; i++) {
                    handed = workers[next].assign(client);
                    next = (next + 1) % WORKERS;
                }
                if (!handed) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (handed) client.release(); // the worker owns it alone now
        }
        client.close();
        for (auto& w : workers)
            w.stop(300);
        listener.close();
    }

    int served() const
    {
        int n = 0;
        for (auto& w : workers)
            n += w.served.load();
        return n;
    }

    WServerSocket listener;
    std::atomic<bool> stopRequested {false};
    PoolWorker workers[WORKERS];
};

} // namespace

TEST(ServerSocketTest, AWorkerPoolServesConnectionsAndStops)
{
    PoolServer server;
    for (int round = 0; round < 2; round++) { // started, stopped, started again
        server.start();
        unsigned long port = server.listener.getPort();
        constexpr int CLIENTS = 8, EACH = 40;
        std::atomic<int> answered {0};
        std::vector<std::thread> clients;
        for (int c = 0; c < CLIENTS; c++)
            clients.emplace_back([&, c] {
                for (int i = 0; i < EACH; i++) {
                    WSocket s(WIPAddress("127.0.0.1", port));
                    s.setRecvTimeout(5000);
                    s.connect();
                    WFormattedString request("GET /%d/%d HTTP/1.1", c, i);
                    s.writeln(request);
                    s.writeln("Host: x");
                    s.writeln("");
                    WString line;
                    if (s.readln(line) && line.equals(WString("OK ") + request) && !s.readln(line)) answered++;
                }
            });
        for (auto& t : clients)
            t.join();
        EXPECT_EQ(answered.load(), CLIENTS * EACH);

        // A client that connects and stays silent pins a worker in its read:
        // the stop has to kill that worker.
        WSocket idle(WIPAddress("127.0.0.1", port));
        idle.connect();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Stopwatch w;
        server.stop();
        EXPECT_LT(w.ms(), 3000);
        EXPECT_FALSE(server.getThread().isActive());
        int killed = 0;
        for (auto& worker : server.workers) {
            EXPECT_FALSE(worker.getThread().isActive());
            killed += worker.killed.load();
        }
        EXPECT_EQ(killed, round + 1);
        WString line;
        EXPECT_FALSE(idle.readln(line)); // the killed worker's connection is gone
    }
    EXPECT_EQ(server.served(), 2 * 8 * 40);
}

// Ports that do not fit 16 bits are refused, never truncated: 65536 would
// listen on a random port, 65616 on port 80 and -1 on 65535.
TEST(ServerSocketTest, PortsAbove65535AreRefused)
{
    const unsigned long ports[] = {65536ul, 65616ul, (unsigned long)-1, (1ul << 32) | 80ul};
    for (unsigned long port : ports) {
        SCOPED_TRACE(port);
        WFormattedString shown("127.0.0.1:%lu", port);
        WServerSocket server(WIPAddress("127.0.0.1", port), 1);
        try {
            server.create();
            ADD_FAILURE() << "listening on port " << server.getPort();
        } catch (WSocketException& e) {
            EXPECT_EQ(e.getId(), -7);
            EXPECT_STREQ(e.getMessage(), WString("Cannot bind to ") + shown);
        }
        server.close();

        WServerSocket any(port);
        EXPECT_THROW(any.create(), WSocketException);
        any.close();

        WSocket client(WIPAddress("127.0.0.1", port));
        try {
            client.connect();
            ADD_FAILURE() << "connected";
        } catch (WSocketException& e) {
            EXPECT_EQ(e.getId(), -2);
            EXPECT_STREQ(e.getMessage(), WString("Cannot connect to ") + shown);
        }
        EXPECT_EQ(client.getPort(), port);
    }
}
