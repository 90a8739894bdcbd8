// The server object over its life: binding, starting and stopping (also from
// its own threads), restarting, many clients at once, slow and greedy clients,
// and running out of descriptors.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "ServerTestSupport.h"
#include "WSocket.h"

extern char** environ;

using namespace servertest;

TEST_F(ServerTest, StartsReportsAndStops)
{
    startServer();
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(server->getPort(), port);
    EXPECT_TRUE(waitUntil([&] { return control.started.load() == 1; }, 2000));
    EXPECT_TRUE(control.waitFor(1, "Create HTTP server: Host=127.0.0.1, Port=" + std::to_string(port)));
    EXPECT_TRUE(control.waitFor(1, "Document path: " + site.root + "/docs"));
    server->start(); // running: does nothing
    EXPECT_EQ(body(get(port, "/index.html")), "<h1>home</h1>");
    server->stop(true, 1000);
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(control.stopped.load(), 1);
    EXPECT_TRUE(server->hasEnded());
    server->stop(true, 1000); // stopped: does nothing
    EXPECT_EQ(control.stopped.load(), 1);
    EXPECT_EQ(get(port, "/index.html"), "(not connected)");
}

TEST_F(ServerTest, BindFailuresReachTheCaller)
{
    startServer();
    ServerConfig second = config;
    Zorvane other(&control, second);
    try {
        other.start();
        FAIL() << "a port in use was bound";
    } catch (WSocketException& e) {
        EXPECT_EQ(e.getId(), -7);
        EXPECT_EQ(std::string(e.getMessage()), "Cannot bind to 127.0.0.1:" + std::to_string(port));
    }
    EXPECT_FALSE(other.isRunning());
    for (uint32_t bad : {0u, 65536u, 70000u, 4294967295u}) {
        second.port = bad;
        other.configure(&control, second);
        try {
            other.start();
            FAIL() << "port " << bad << " was accepted";
        } catch (WSocketException& e) {
            EXPECT_EQ(e.getId(), -7);
            EXPECT_EQ(std::string(e.getMessage()), "Cannot bind to 127.0.0.1:" + std::to_string(bad));
        }
        EXPECT_FALSE(other.isRunning());
    }
}

TEST_F(ServerTest, StopsAndStartsAgain)
{
    startServer();
    // A worker busy with a client that sends nothing while the server stops.
    auto idle = std::make_unique<Client>(port);
    EXPECT_EQ(body(get(port, "/index.html")), "<h1>home</h1>");
    ASSERT_TRUE(waitUntil([&] { return control.count(2, "Client connected") == 2; }, 3000));
    // The busy worker cannot finish within the second the caller waits: the
    // server's threads are ended and the listening port is free again.
    auto stopping = std::chrono::steady_clock::now();
    server->stop(true, 1000);
    EXPECT_TRUE(waitUntil([&] { return server->hasEnded(); }, 3000));
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(3));
    EXPECT_EQ(idle->readAll(3000), "");
    idle.reset();
    int stoppedBefore = control.stopped.load();

    site.write("docs/index.html", "<h1>again</h1>");
    config.documentPath = (site.root + "/docs/sub").c_str();
    server->configure(&control, config);
    server->start();
    for (int i = 0; i < 40; i++) {
        ASSERT_EQ(body(get(port, "/index.html")), "sub index.html") << i;
    }
    EXPECT_EQ(control.started.load(), 2);
    server->stop(true, 1000);
    EXPECT_EQ(control.stopped.load(), stoppedBefore + 1);
    EXPECT_TRUE(server->hasEnded());
    // The silent connection of the first run was never served again.
    EXPECT_EQ(control.count(2, "Client connected"), 42);
}

TEST_F(ServerTest, StopAndStartUnderLoadKeepEveryWorker)
{
    // Each page waits until all the workers run one at once. A worker short,
    // the first pages give up after a while and say how many they saw.
    site.write("docs/meet.php",
        "<?php $d = __DIR__ . '/met'; @mkdir($d); touch($d . '/' . uniqid('', true));"
        " $until = microtime(true) + 10;"
        " while (count(glob($d . '/*')) < " + std::to_string(Zorvane::WORKER_COUNT) + " && microtime(true) < $until)"
        " usleep(5000);"
        " echo count(glob($d . '/*'));");
    startServer();
    std::atomic<bool> done {false};
    std::vector<std::string> wrong(4);
    std::vector<std::thread> load;
    for (int t = 0; t < 4; t++) {
        load.emplace_back([&, t] {
            while (!done.load()) {
                for (const char* path : {"/x.php", "/index.html"}) {
                    // Refused, closed unanswered, answered whole, or 503
                    // while the server stops; never a half answer.
                    std::string answer = get(port, path);
                    bool fine = answer == "(not connected)" || answer.empty()
                        || statusLine(answer) == "HTTP/1.1 503 Service Unavailable" || body(answer) == "php ran"
                        || body(answer) == "<h1>home</h1>";
                    if (!fine) {
                        wrong[t] = answer.substr(0, 200);
                    }
                }
            }
        });
    }
    for (int cycle = 0; cycle < 5; cycle++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        server->stop(true, 3000);
        ASSERT_TRUE(waitUntil([&] { return server->hasEnded(); }, 5000)) << cycle;
        server->start();
    }
    done = true;
    for (std::thread& t : load) {
        t.join();
    }
    for (const std::string& w : wrong) {
        EXPECT_EQ(w, "");
    }
    // All the workers run again.
    std::vector<std::string> met(Zorvane::WORKER_COUNT);
    std::vector<std::thread> clients;
    for (size_t i = 0; i < met.size(); i++) {
        clients.emplace_back([&, i] { met[i] = body(get(port, "/meet.php")); });
    }
    for (std::thread& t : clients) {
        t.join();
    }
    for (const std::string& b : met) {
        EXPECT_EQ(b, std::to_string(Zorvane::WORKER_COUNT));
    }
}

// While running scripts may still finish, the stopping server takes nobody
// new: not even once connections close or the loop looks at its timers.
TEST_F(ServerTest, AStoppingServerTakesNoNewClients)
{
    site.write("docs/slow.php", "<?php touch(__DIR__ . '/started'); usleep(1500000); echo 'slow';");
    startServer();
    std::string slow;
    std::thread running([&] { slow = body(get(port, "/slow.php")); });
    // Stopped while the script runs, not while its request may still be queued.
    EXPECT_TRUE(waitUntil([&] { return ::access(site.path("docs/started").c_str(), F_OK) == 0; }));
    server->stop(false, 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_NE(body(get(port, "/index.html")), "<h1>home</h1>");
    running.join();
    EXPECT_EQ(slow, "slow");
    EXPECT_TRUE(waitUntil([&] { return server->hasEnded(); }, 5000));
}

TEST_F(ServerTest, StopFromInsideARequestDoesNotWait)
{
    startServer();
    std::atomic<bool> returned {false};
    control.whenFinished = [&] {
        server->stop(true, 1000);
        returned = true;
    };
    std::string response = get(port, "/x.php");
    EXPECT_TRUE(returned.load());
    EXPECT_NE(statusLine(response), "");
    EXPECT_TRUE(waitUntil([&] { return !server->isRunning(); }, 5000));
    EXPECT_TRUE(waitUntil([&] { return server->hasEnded(); }, 5000));
    EXPECT_EQ(control.stopped.load(), 1);
}

TEST_F(ServerTest, MoreClientsThanWorkersAreAllServed)
{
    startServer();
    // A burst of clients, many more than there are workers, each finishing
    // its request only a while after it connected: none is dropped or waits
    // for a connection attempt to be repeated.
    const int clients = Zorvane::WORKER_COUNT + 256;
    std::vector<std::unique_ptr<Client>> connections;
    for (int i = 0; i < clients; i++) {
        connections.push_back(std::make_unique<Client>(port));
        ASSERT_TRUE(connections.back()->connected) << i;
    }
    std::vector<std::string> answers(clients);
    std::vector<std::thread> threads;
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < clients; i++) {
        threads.emplace_back([&, i] {
            Client& client = *connections[i];
            client.send("GET /style.css HTTP/1.1\r\nHost: x\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            client.send("\r\n");
            answers[i] = client.readAll(20000);
            connections[i].reset();
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int i = 0; i < clients; i++) {
        EXPECT_EQ(body(answers[i]), "body{}") << i;
    }
    EXPECT_EQ(control.count(2, "Send file"), clients);
    // Workers pick up waiting clients as soon as they are free.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3 * SLOWDOWN));
}

TEST_F(ServerTest, ClientThatNeverReadsCannotHoldAWorker)
{
    std::string big(8 * 1024 * 1024, 'b');
    site.write("docs/big.txt", big);
    startServer();
    server->stop(true, 1000);
    server->setClientTimeouts(Zorvane::RECEIVE_TIMEOUT_MS, 300);
    server->start();
    Client greedy(port);
    greedy.send("GET /big.txt HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(
        control.waitFor(2, "Cannot send file: " + site.root + "/docs/big.txt, Connection closed by peer.", 5000));
}

TEST_F(ServerTest, RunningOutOfDescriptorsIsSurvived)
{
    startServer();
    EXPECT_EQ(body(get(port, "/index.html")), "<h1>home</h1>");
    // Let the server close that connection before the descriptors run out.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    // A client in another process connects while this process has no
    // descriptor left, so the server's accept fails until some are freed.
    std::string script = "sleep 0.3; exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port)
        + "; printf 'GET /style.css HTTP/1.0\\r\\n\\r\\n' >&3; cat <&3 > " + site.path("answer.txt");
    const char* argv[] = {"/bin/bash", "-c", script.c_str(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, "/bin/bash", nullptr, nullptr, const_cast<char**>(argv), environ), 0);

    rlimit saved {};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = 256;
    ::setrlimit(RLIMIT_NOFILE, &low);
    std::vector<int> held;
    for (;;) {
        int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            break;
        }
        held.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    for (int fd : held) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);

    int status = 0;
    ::waitpid(pid, &status, 0);
    std::ifstream in(site.path("answer.txt"));
    std::string answer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Answered (whether the file could be opened while descriptors were short
    // depends on who frees one first), reported once, and the server goes on.
    EXPECT_EQ(answer.compare(0, 9, "HTTP/1.1 "), 0) << answer;
    // A descriptor another thread frees in the meantime can let the accept
    // succeed; a shortage that does reach accept is reported once.
    EXPECT_LE(control.count(-1, "Cannot accept socket. (id=-9, syserr=00000018h)"), 1);
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(body(get(port, "/index.html")), "<h1>home</h1>");
}

TEST_F(ServerTest, ProblemsInTheTablesAreReportedOnce)
{
    site.write("cfg/vdir.txt", "/nofolder/;\njust a line without separator\n/ok/;" + site.path("pics") + "\n");
    site.write("cfg/cgi.txt", ";/bin/sh\n.PHP3  .php ;PHPBuildIn\n");
    site.write("docs/a.php3", "<?php echo 3;");
    ::remove(site.path("cfg/mime.txt").c_str());
    startServer();
    // Every file is text/plain, and the server serves all the same.
    std::string response = get(port, "/index.html");
    EXPECT_EQ(body(response), "<h1>home</h1>");
    EXPECT_NE(response.find("\r\nContent-Type: text/plain\r\n"), std::string::npos);
    EXPECT_EQ(body(get(port, "/ok/Logo.gif")), "GIF89a-logo");
    EXPECT_EQ(control.count(-1, "cfg/vdir.txt, line 1 skipped"), 1);
    EXPECT_EQ(control.count(-1, "cfg/vdir.txt, line 2 skipped"), 1);
    EXPECT_EQ(control.count(-1, "cfg/cgi.txt, line 1 skipped"), 1);
    EXPECT_EQ(control.count(-1, "Cannot load MIME types"), 1);
    int errors = 0;
    for (const RecordingControl::Line& line : control.snapshot()) {
        errors += line.level == -1;
    }
    EXPECT_EQ(errors, 4);
    // '.php3' in any case is a key of its own.
    get(port, "/a.php3");
    EXPECT_TRUE(control.has(2, "Execute PHP script: " + site.root + "/docs/a.php3"));
}

TEST_F(ServerTest, StopRightAfterStartIsNeverLost)
{
    startServer();
    for (int i = 0; i < 20; i++) {
        server->stop(true, 1000);
        ASSERT_TRUE(waitUntil([&] { return server->hasEnded(); }, 3000)) << i;
        server->start();
    }
    EXPECT_EQ(body(get(port, "/index.html")), "<h1>home</h1>");
    // The wake-up connections of the stops were never served as requests.
    EXPECT_EQ(control.count(2, "Client connected"), 1);
}

TEST_F(ServerTest, DestroyingTheServerEndsBusyWorkersFirst)
{
    startServer();
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 5; i++) {
        idle.push_back(std::make_unique<Client>(port));
    }
    EXPECT_TRUE(control.waitFor(2, "Client connected", 2000));
    auto started = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    for (auto& client : idle) {
        EXPECT_EQ(client->readAll(2000), "");
    }
}

TEST_F(ServerTest, ExceptionInTheServerThreadIsReportedAndEndsIt)
{
    // A control that fails on the server thread once the server has started
    // (asked whether its first line is shown): the server thread reports the
    // exception, gives up the port and says it stopped.
    class FailingControl : public RecordingControl {
    public:
        bool isLogShown(int level) const override
        {
            if (started.load() > 0 && level == 1 && !failed.exchange(true)) {
                throw WException("log failed", 5);
            }
            return RecordingControl::isLogShown(level);
        }
        mutable std::atomic<bool> failed {false};
    } failing;
    config.host = "127.0.0.1";
    config.port = freePort();
    config.documentPath = (site.root + "/docs").c_str();
    {
        Zorvane broken(&failing, config);
        broken.start();
        EXPECT_TRUE(waitUntil([&] { return failing.stopped.load() == 1; }, 3000));
        EXPECT_TRUE(waitUntil([&] { return !broken.isRunning(); }, 3000));
        std::vector<std::string> errors = failing.exceptionTexts();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], "WException: log failed (id=5, syserr=00000000h)");
        EXPECT_EQ(get(config.port, "/index.html"), "(not connected)");
        broken.stop(true, 1000); // stopped already: nothing to do
    }
    EXPECT_EQ(failing.started.load(), 1);
}
