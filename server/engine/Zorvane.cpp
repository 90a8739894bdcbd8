#include "Zorvane.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include <unistd.h>

#include "BrowserLauncher.h"
#include "PHPRuntime.h"
#include "RoutingTables.h"
#include "WException.h"
#include "WIPAddress.h"
#include "WServerSocket.h"
#include "WSocketUtils.h"
#include "WSystem.h"
#include "ZorvaneControl.h"

namespace {

// accept() failures from running out of descriptors or memory: they pass
// once connections end, so the server waits a little and tries again.
bool isExhaustionError(int err)
{
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

} // namespace

thread_local const Zorvane* Zorvane::currentServer = nullptr;

Zorvane::Zorvane() : control(nullptr)
{
    construct();
}

Zorvane::Zorvane(ZorvaneControl* control, const ServerConfig& config) : control(nullptr)
{
    this->config = config;
    this->control = control;
    construct();
}

void Zorvane::construct()
{
    stopRequested = false;
    receiveTimeoutMs = RECEIVE_TIMEOUT_MS;
    sendTimeoutMs = SEND_TIMEOUT_MS;
    idleEvents = 0;
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
    if (!hasEnded()) {
        // A thread that cannot be stopped would run on freed objects: end the
        // process now, with the logs written, rather than crash under it.
        std::fflush(nullptr);
        ::_exit(0);
    }
    shutdownPHP();
}

void Zorvane::configure(ZorvaneControl* control, const ServerConfig& config)
{
    this->config = config;
    this->control = control;
    // The runtime started before anyone could hear about it: say now which PHP runs.
    announcePHP(control);
}

void Zorvane::setClientTimeouts(unsigned long receiveMs, unsigned long sendMs)
{
    receiveTimeoutMs = receiveMs;
    sendTimeoutMs = sendMs;
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
        throw WSocketException(WFormattedString("Cannot bind to %s:%u", address.getIpAddressStr(),
                                                (unsigned)config.port),
                               -7);
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
    // Cleared here, before the thread exists, so that a stop right after the
    // start is never lost.
    stopRequested = false;
    thread.setPriority(WThread::PRIORITY_HIGHEST);
    try {
        thread.start(this);
    } catch (WException&) {
        serverSocket.close();
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
    bool first = !stopRequested.exchange(true);
    {
        std::lock_guard<std::mutex> guard(idleLock);
        idleEvents++;
    }
    idleChanged.notify_all();
    bool own = isOwnThread();
    if (first) {
        try {
            WSocketUtils::ping(serverSocket);
        } catch (WException&) {
            if (!own) {
                throw;
            }
            // On our own thread there is nobody to tell: the server thread
            // leaves its loop at the next connection.
        }
    }
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
    return true;
}

unsigned long Zorvane::getPort() const
{
    return serverSocket.getPort();
}

void Zorvane::workerIdle()
{
    {
        std::lock_guard<std::mutex> guard(idleLock);
        idleEvents++;
    }
    idleChanged.notify_all();
}

void Zorvane::run()
{
    currentServer = this;
    control->onStarted();
    try {
        control->log(WFormattedString("Create HTTP server: Host=%s, Port=%u", config.host.getBuf(),
                                      (unsigned)config.port),
                     1);
        control->log(WFormattedString("Document path: %s", config.documentPath.getBuf()), 1);

        // Read once per start, here, so that a problem is reported once and
        // not by each worker.
        RoutingTables tables;
        tables.load(control);
        for (ZorvaneWorker& worker : workers) {
            // A worker still serving a connection from before (a run that an
            // exception ended leaves its workers alone) keeps what it has.
            if (!worker.isBusy()) {
                worker.configure(control, config);
                worker.setRouting(tables, this);
            }
            worker.start();
        }
        acceptConnections();
        stopWorkers();
    } catch (WException& e) {
        control->onException(e);
        WSystem::showMessage(nullptr, e.getMessage(), "Information", false);
    }
    try {
        serverSocket.close();
    } catch (WException&) {
        // already gone
    }
    control->onStopped();
}

bool Zorvane::handOver(WSocket& client, int& next)
{
    while (!stopRequested.load()) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> guard(idleLock);
            seen = idleEvents;
        }
        for (int examined = 0; examined < WORKER_COUNT; examined++) {
            ZorvaneWorker& worker = workers[next];
            next = (next + 1) % WORKER_COUNT;
            if (worker.isAvailable() && worker.assignClient(client)) {
                return true;
            }
        }
        // All busy: wait for one to become idle, but scan again at the latest
        // after the retry interval.
        std::unique_lock<std::mutex> lock(idleLock);
        idleChanged.wait_for(lock, std::chrono::milliseconds(HANDOFF_RETRY_MS),
                             [&] { return idleEvents != seen || stopRequested.load(); });
    }
    return false;
}

void Zorvane::acceptConnections()
{
    WSocket client;
    int next = 0;
    bool exhaustionReported = false;
    for (;;) {
        bool accepted;
        try {
            accepted = serverSocket.accept(client);
        } catch (WSocketException& e) {
            if (stopRequested.load()) {
                break;
            }
            // Failures of a single pending connection are retried inside accept();
            // what reaches here concerns the listener itself.
            int err = (int)e.getSysErrCode();
            if (!isExhaustionError(err)) {
                throw;
            }
            if (!exhaustionReported) {
                control->log(e.toString(), -1);
                exhaustionReported = true;
            }
            std::unique_lock<std::mutex> lock(idleLock);
            idleChanged.wait_for(lock, std::chrono::milliseconds(HANDOFF_RETRY_MS),
                                 [&] { return stopRequested.load(); });
            continue;
        }
        if (!accepted || stopRequested.load()) {
            client.close();
            break;
        }
        exhaustionReported = false;
        // The receive buffer is fixed; the send buffer is left to the
        // system's auto-tuning, which starts below 64 KiB and grows to
        // megabytes for a large file (a fixed size turns it off on Linux).
        client.setRecvBufSize(SOCKET_BUFFER_SIZE);
        client.setRecvTimeout(receiveTimeoutMs.load());
        client.setSendTimeout(sendTimeoutMs.load());
        if (handOver(client, next)) {
            // The worker owns the connection now.
            client.release();
        } else {
            client.close();
            break;
        }
    }
}

void Zorvane::stopWorkers()
{
    // Ask all first, so that they wind down together, then wait for each.
    for (ZorvaneWorker& worker : workers) {
        worker.requestStop();
    }
    for (ZorvaneWorker& worker : workers) {
        worker.stop(true, WORKER_STOP_MS);
    }
}
