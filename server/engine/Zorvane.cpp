#include "Zorvane.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "BrowserLauncher.h"
#include "ClientConnection.h"
#include "EventLoop.h"
#include "PHPRuntime.h"
#include "PathResolver.h"
#include "RoutingTables.h"
#include "TemporaryFile.h"
#include "WException.h"
#include "WIPAddress.h"
#include "WServerSocket.h"
#include "WSocketUtils.h"
#include "WSystem.h"
#include "ZorvaneControl.h"

namespace {

// Every connection waiting for its request holds a descriptor: the soft
// limit is raised as far as the system allows (nothing is lost by it).
void raiseDescriptorLimit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// The send window; ZORVANE_SEND_WINDOW_MS shortens it for tests.
unsigned long initialSendWindow()
{
    const char* text = getenv("ZORVANE_SEND_WINDOW_MS");
    if (text && *text) {
        char* end = nullptr;
        unsigned long ms = strtoul(text, &end, 10);
        if (end && *end == '\0' && ms > 0) return ms;
    }
    return Zorvane::SEND_TIMEOUT_MS;
}

// Accepted sockets inherit these from the listener: no call per connection.
void prepareListener(int fd, unsigned long receiveBuffer)
{
    int size = (int)receiveBuffer;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    // Answers leave in as few sends as they can; the small rest of a
    // script's output must not wait for the client's acknowledgement.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int defer = ConnectionReactor::ACCEPT_DEFER_SECONDS;
    setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer, sizeof defer);
    // A request that came whole is acknowledged by its answer, not by a
    // segment of its own. A connection whose request is still coming is
    // acknowledged at once again (ConnectionReactor::awaitInput).
    int late = 0;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &late, sizeof late);
}

// PHP works in the script's folder and CGI programs run in theirs: a
// relative document folder would not lead back to the files.
ServerConfig withAbsoluteFolder(const ServerConfig& settings)
{
    ServerConfig config(settings);
    config.documentPath = PathResolver::absoluteFolder(config.documentPath);
    return config;
}

} // namespace

thread_local const Zorvane* Zorvane::currentServer = nullptr;

Zorvane::Zorvane() : control(nullptr)
{
    construct();
}

Zorvane::Zorvane(ZorvaneControl* owner, const ServerConfig& settings)
    : config(withAbsoluteFolder(settings)), control(nullptr)
{
    useControl(owner);
    construct();
}

void Zorvane::flushLog()
{
    if (logQueue) {
        logQueue->awaitEarlierLines();
    }
}

void Zorvane::useControl(ZorvaneControl* owner)
{
    if (logQueue && logQueue->getTarget() == owner) {
        return;
    }
    logQueue.reset();
    control = owner;
    if (owner == nullptr) {
        return;
    }
    logQueue = std::make_unique<LogQueue>(owner);
    logQueue->open();
    control = logQueue.get();
}

ZorvaneControl* Zorvane::requestLog() const
{
    return logQueue ? logQueue->requestLog() : control;
}

void Zorvane::construct()
{
    stopRequested = false;
    for (int i = 0; i < MAX_EVENT_LOOPS; ++i) {
        loops.push_back(std::make_unique<EventLoop>(queue));
        loops.back()->reactor.setTimeouts(RECEIVE_TIMEOUT_MS, initialSendWindow());
    }
    startupPHP(control);
}

Zorvane::~Zorvane()
{
    // Every thread ends before PHP goes and before the members they use go.
    try {
        stop(true, WORKER_STOP_MS);
    } catch (WException&) {
        // the join below still waits for it
    }
    thread.join(WORKER_STOP_MS);
    for (ZorvaneWorker& worker : workers) {
        worker.stop(true, WORKER_STOP_MS);
    }
    endLoops();
    if (!hasEnded()) {
        // A thread that cannot be stopped would run on freed objects: end the
        // process now, with the logs written, rather than crash under it.
        if (logQueue) {
            logQueue->close();
        }
        std::fflush(nullptr);
        ::_exit(0);
    }
    shutdownPHP();
}

void Zorvane::configure(ZorvaneControl* owner, const ServerConfig& settings)
{
    config = withAbsoluteFolder(settings);
    useControl(owner);
    // The runtime started before anyone could hear about it: say now which PHP runs.
    announcePHP(control);
}

void Zorvane::setClientTimeouts(unsigned long receiveMs, unsigned long sendMs)
{
    for (auto& loop : loops) {
        loop->reactor.setTimeouts(receiveMs, sendMs);
    }
}

void Zorvane::start()
{
    if (thread.isActive()) {
        return;
    }
    WIPAddress address(config.host, config.port);
    if (config.port < 1 || config.port > 65535) {
        // The system would take the port modulo 65536 and listen elsewhere.
        errno = EINVAL;
        throw WSocketException(
            WFormattedString("Cannot bind to %s:%u", address.getIpAddressStr(), (unsigned)config.port), -7);
    }
    serverSocket.close();
    serverSocket.init(address);
    serverSocket.setBacklog(LISTEN_BACKLOG);
    try {
        serverSocket.create();
    } catch (WException&) {
        serverSocket.close();
        throw;
    }
    prepareListener(serverSocket.getHandle(), SOCKET_BUFFER_SIZE);
    // Every loop watches the one listening socket: the port stays this
    // server's alone, and a loop that is busy leaves new connections to
    // the others.
    loopsRunning = wantedEventLoops();
    raiseDescriptorLimit();
    TemporarySpace::setLimit(config.tempSpaceLimit << 20);
    // A client that went away must fail a send, not end the program.
    signal(SIGPIPE, SIG_IGN);
    // Cleared here, before the thread exists, so that a stop right after the
    // start is never lost.
    stopRequested = false;
    thread.setPriority(WThread::PRIORITY_HIGHEST);
    try {
        thread.start(this);
    } catch (WException&) {
        serverSocket.close();
        endLoops();
        throw;
    }
    if (config.startURL.length() > 0) {
        openInBrowser(config.startURL);
    }
}

bool Zorvane::isOwnThread() const
{
    return currentServer == this;
}

void Zorvane::stop(bool wait, unsigned long timeoutMs)
{
    if (!thread.isActive()) {
        return;
    }
    if (!stopRequested.exchange(true)) {
        stopRequestedAt = ClientConnection::monotonicMs();
    }
    for (auto& loop : loops) {
        loop->reactor.wake();
    }
    bool own = isOwnThread();
    if (wait && !own && !thread.join(timeoutMs)) {
        // The server thread did not wind down in time: end it, and with it
        // the workers it was still waiting for, and free the port.
        try {
            thread.kill();
        } catch (WException&) {
            // it ends at its next library wait
        }
        for (ZorvaneWorker& worker : workers) {
            worker.requestStop();
        }
        for (ZorvaneWorker& worker : workers) {
            worker.stop(true, 0);
        }
        if (!thread.isActive()) {
            endLoops();
            serverSocket.close();
        }
    }
}

bool Zorvane::isRunning() const
{
    return thread.isActive();
}

bool Zorvane::hasEnded() const
{
    if (thread.isActive()) {
        return false;
    }
    for (const ZorvaneWorker& worker : workers) {
        if (worker.getThread().isActive()) {
            return false;
        }
    }
    for (const auto& loop : loops) {
        if (loop->running.load()) {
            return false;
        }
    }
    return true;
}

unsigned long Zorvane::getPort() const
{
    return serverSocket.getPort();
}

void Zorvane::run()
{
    currentServer = this;
    control->onStarted();
    // Whatever ends the run, a kill of this thread included, the loops end,
    // the port is freed and the front-end hears of it.
    struct Cleanup {
        Zorvane& server;
        ~Cleanup()
        {
            server.endLoops();
            server.loops[0]->reactor.close();
            try {
                server.serverSocket.close();
            } catch (WException&) {
                // already gone
            }
            server.control->onStopped();
        }
    } cleanup {*this};
    try {
        control->log(
            WFormattedString("Create HTTP server: Host=%s, Port=%u", config.host.getBuf(), (unsigned)config.port), 1);
        control->log(WFormattedString("Document path: %s", config.documentPath.getBuf()), 1);

        // Read once per start, here, so that a problem is reported once and
        // not by each worker.
        RoutingTables tables;
        tables.load(control);
        for (ZorvaneWorker& worker : workers) {
            worker.start(requestLog(), config, tables, this);
        }
        for (int i = 0; i < loopsRunning; ++i) {
            EventLoop& loop = *loops[(size_t)i];
            loop.reactor.getHandler().configure(requestLog(), config, tables);
            loop.reactor.open(serverSocket.getHandle(), control, &connectionBudget);
        }
        for (int i = 1; i < loopsRunning; ++i) {
            EventLoop& loop = *loops[(size_t)i];
            loop.running = true;
            loop.thread = std::thread([this, &loop] { runLoop(loop); });
        }
        // On stop the loops send what running scripts still answer, for a
        // short while; then the workers end.
        serveLoop(*loops[0]);
    } catch (WException& e) {
        control->onException(e);
        WSystem::showMessage(nullptr, e.getMessage(), "Information", false);
        // A failed run ends like a stopped one: the other loops end only once
        // they see the stop, and no worker keeps this run's settings.
        stopRequested = true;
        stopRequestedAt = ClientConnection::monotonicMs();
    }
    endLoops();
    loops[0]->reactor.close();
    stopWorkers();
}

namespace {

std::atomic<int> g_eventLoops {0};

} // namespace

void Zorvane::setEventLoopCount(int count)
{
    g_eventLoops = count < 0 ? 0 : count;
}

int Zorvane::wantedEventLoops()
{
    int n = g_eventLoops.load();
    if (n == 0) {
        n = (int)std::thread::hardware_concurrency() / 2;
    }
    return n < 1 ? 1 : n > MAX_EVENT_LOOPS ? MAX_EVENT_LOOPS : n;
}

void Zorvane::runLoop(EventLoop& loop)
{
    currentServer = this;
    try {
        serveLoop(loop);
    } catch (WException& e) {
        // The listening socket failed under this loop: it ends, the others
        // go on (the server thread's loop reports its own failure).
        control->onException(e);
    }
    loop.running = false;
}

void Zorvane::serveLoop(EventLoop& loop)
{
    for (;;) {
        try {
            loop.reactor.run(stopRequested, WORKER_STOP_MS);
            return;
        } catch (std::bad_alloc&) {
        } catch (WMemoryException&) {
        }
        // Each connection's own failures are its own (ConnectionReactor):
        // this one came between them, and the loop goes on after a pause in
        // which memory may come back.
        try {
            errno = ENOMEM;
            if (ZorvaneControl* log = requestLog()) log->onException(WMemoryException("Out of memory.", -2));
        } catch (...) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(OUT_OF_MEMORY_PAUSE_MS));
    }
}

void Zorvane::endLoops()
{
    for (size_t i = 1; i < loops.size(); ++i) {
        EventLoop& loop = *loops[i];
        if (loop.thread.joinable()) {
            loop.reactor.wake();
            loop.thread.join();
            loop.reactor.close();
        }
    }
}

void Zorvane::stopWorkers()
{
    // Ask all first, so that they wind down together, then wait for them
    // side by side: the stop takes one worker's wait however many are stuck.
    // The answers' drain on the loops counts towards that wait.
    for (ZorvaneWorker& worker : workers) {
        worker.requestStop();
    }
    int64_t waited = ClientConnection::monotonicMs() - stopRequestedAt.load();
    unsigned long left = waited >= 0 && (unsigned long)waited < WORKER_STOP_MS ? WORKER_STOP_MS - (unsigned long)waited : 0;
    std::vector<std::thread> stoppers;
    for (ZorvaneWorker& worker : workers) {
        if (worker.getState() == ZorvaneWorker::State::Stopped) continue;
        try {
            stoppers.emplace_back([&worker, left] { worker.stop(true, left); });
        } catch (std::system_error&) {
            worker.stop(true, left); // no thread to spare: this one waits itself
        }
    }
    for (std::thread& t : stoppers) {
        t.join();
    }
}
