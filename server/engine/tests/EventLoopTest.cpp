// Several event loops on one listening socket: every loop answers files and
// hands scripts to the workers, the port stays the server's alone (no other
// program can join it), the socket goes with the server, and a client that
// never reads holds no loop.

#include "ServerTestSupport.h"

using namespace servertest;

namespace {

// Listening sockets on 127.0.0.1:port, from the system's table.
int listenersOn(unsigned port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[16];
    snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    int n = 0;
    std::getline(table, line); // headings
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") {
            n++;
        }
    }
    return n;
}

// A client whose receive buffer is small and who never reads.
int greedyClient(unsigned port, const std::string& request)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a = loopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != (ssize_t)request.size()) {
        ADD_FAILURE() << "greedy client: " << errno;
    }
    return fd;
}

class EventLoopTest : public ServerTest {
protected:
    void startWithLoops(int loops)
    {
        Zorvane::setEventLoopCount(loops);
        startServer();
    }
    void TearDown() override
    {
        ServerTest::TearDown();
        Zorvane::setEventLoopCount(0);
    }
};

} // namespace

TEST_F(EventLoopTest, EveryLoopAnswersFilesAndScriptsAlike)
{
    std::string sizes[] = {"", "x", std::string(4095, 'a'), std::string(4096, 'b'), std::string(4097, 'c'),
        std::string(70000, 'd'), std::string(3 * 1024 * 1024 + 7, 'e')};
    for (size_t i = 0; i < std::size(sizes); i++) {
        site.write("docs/f" + std::to_string(i) + ".txt", sizes[i]);
    }
    startWithLoops(4);
    EXPECT_EQ(listenersOn(port), 1);
    // Enough connections that every loop takes some.
    const int clients = 8;
    const int rounds = 12;
    std::vector<std::string> failures(clients);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; c++) {
        threads.emplace_back([&, c] {
            for (int r = 0; r < rounds; r++) {
                size_t i = (size_t)(c + r) % std::size(sizes);
                std::string answer = get(port, "/f" + std::to_string(i) + ".txt");
                if (body(answer) != sizes[i]) {
                    failures[c] = "f" + std::to_string(i) + ".txt: " + statusLine(answer);
                }
                if (body(get(port, "/x.php")) != "php ran") {
                    failures[c] = "x.php";
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int c = 0; c < clients; c++) {
        EXPECT_EQ(failures[c], "") << c;
    }
    EXPECT_EQ(control.count(2, "Send file"), clients * rounds);
    // Errors and redirects from a loop are the workers' answers.
    EXPECT_EQ(statusLine(get(port, "/missing.txt")), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(statusLine(get(port, "/sub")), "HTTP/1.1 301 Moved Permanently");
    EXPECT_EQ(body(get(port, "/img/Logo.GIF")), "GIF89a-logo");
}

TEST_F(EventLoopTest, ThePortStaysTheServersAndItsListenerGoesWithIt)
{
    startWithLoops(4);
    ASSERT_EQ(listenersOn(port), 1);
    // Another program is refused the port, even one that asks to share it.
    auto refused = [&] {
        for (int share : {0, 1}) {
            int other = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int on = 1;
            setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            if (share) {
                setsockopt(other, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
            }
            sockaddr_in a = loopbackAddress(port);
            EXPECT_NE(::bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << share;
            ::close(other);
        }
    };
    refused();
    // Also the loopback address of a server that listens on all of them.
    server->stop(true, 1000);
    config.host = "0.0.0.0";
    server->configure(&control, config);
    server->start();
    refused();

    server->stop(true, 1000);
    config.host = "127.0.0.1";
    server->configure(&control, config);
    EXPECT_TRUE(server->hasEnded());
    EXPECT_EQ(listenersOn(port), 0);
    EXPECT_EQ(get(port, "/index.html"), "(not connected)");
    Zorvane::setEventLoopCount(2);
    server->start();
    EXPECT_EQ(listenersOn(port), 1);
    for (int i = 0; i < 20; i++) {
        ASSERT_EQ(body(get(port, "/index.html")), "<h1>home</h1>") << i;
    }
    server.reset();
    EXPECT_EQ(listenersOn(port), 0);
}

TEST_F(EventLoopTest, AClientThatNeverReadsHoldsNoLoop)
{
    site.write("docs/big.txt", std::string(8 * 1024 * 1024, 'b'));
    startWithLoops(1);
    std::vector<int> greedy;
    for (int i = 0; i < 4; i++) {
        greedy.push_back(greedyClient(port, "GET /big.txt HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    ASSERT_TRUE(waitUntil([&] { return control.count(2, "Send file") == 4; }, 3000));
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 30; i++) {
        ASSERT_EQ(body(get(port, "/style.css")), "body{}") << i;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    for (int fd : greedy) {
        ::close(fd);
    }
}
