#include "ZorvaneWorker.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <exception>

#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "RequestRouter.h"
#include "WException.h"
#include "Zorvane.h"
#include "ZorvaneControl.h"

namespace {

// After the response the client may still be sending (a body nobody read);
// closing at once would reset the connection and could destroy the response
// before the client has read it. So the sending side is shut first and the
// rest of the request is read and dropped for up to this long.
constexpr int LINGER_MS = 2000;

void drainInput(int fd)
{
    char sink[4096];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LINGER_MS);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return;
        }
        struct pollfd p = {fd, POLLIN, 0};
        int ready = ::poll(&p, 1, (int)left.count());
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return;
        }
        ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (n <= 0) {
            return;
        }
    }
}

// True when bytes have arrived that nobody read.
bool inputWaiting(int fd)
{
    char c;
    ssize_t n;
    do {
        n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

} // namespace

ZorvaneWorker::ZorvaneWorker()
    : stopRequested(false), busy(false), clientReady(0), control(nullptr), server(nullptr)
{
}

ZorvaneWorker::~ZorvaneWorker()
{
    // The thread must not outlive the members it uses.
    if (thread.isActive()) {
        stop(true, Zorvane::WORKER_STOP_MS);
    }
    clientReady.close();
}

void ZorvaneWorker::configure(ZorvaneControl* control, const ServerConfig& config)
{
    this->config = config;
    this->config.documentPath.replace('\\', '/');
    this->control = control;
}

void ZorvaneWorker::setRouting(const RoutingTables& tables, Zorvane* server)
{
    this->tables = tables;
    this->server = server;
}

void ZorvaneWorker::start()
{
    if (thread.isActive()) {
        return;
    }
    // A fresh semaphore: a wake-up left over from an earlier stop must not
    // send the new thread after a connection that is long gone.
    clientReady.create(0);
    client.close();
    stopRequested = false;
    busy = false;
    thread.setPriority(WThread::PRIORITY_HIGHEST);
    thread.start(this);
}

void ZorvaneWorker::requestStop()
{
    if (!thread.isActive()) {
        return;
    }
    stopRequested = true;
    clientReady.signal();
}

void ZorvaneWorker::stop(bool wait, unsigned long timeoutMs)
{
    if (!thread.isActive()) {
        return;
    }
    requestStop();
    if (wait && !thread.isCurrent() && !thread.join(timeoutMs)) {
        try {
            thread.kill();
        } catch (WException&) {
            // the thread ends at its next library wait
        }
    }
    busy = false;
}

bool ZorvaneWorker::isAvailable() const
{
    return !busy.load() && !stopRequested.load() && thread.isActive();
}

bool ZorvaneWorker::assignClient(const WSocket& socket)
{
    if (busy.load()) {
        return false;
    }
    client = socket;
    busy = true;
    clientReady.signal();
    return true;
}

void ZorvaneWorker::run()
{
    Zorvane::currentServer = server;
    while (!stopRequested.load()) {
        busy = false;
        if (server != nullptr) {
            server->workerIdle();
        }
        clientReady.wait(0);
        if (stopRequested.load()) {
            break;
        }
        busy = true;
        serveClient();
    }
    // A connection handed over while the stop was under way is not served.
    client.close();
}

void ZorvaneWorker::answerQuietly(HTTPResponse& response, unsigned code, const char* message)
{
    try {
        response.sendError(lookupHTTPStatus(code), message, true);
    } catch (WException&) {
        // the client is gone
    }
}

void ZorvaneWorker::serveClient()
{
    HTTPResponse response(control, &client);
    // Until a whole header block of a request without a body has arrived, the
    // client may still be sending.
    Linger linger = Linger::Always;
    try {
        HTTPRequest request(control, &response);
        if (request.read(client, config.documentPath) == HTTPRequest::ReadResult::Request) {
            if (request.contentLength <= 0 && *request.getHeader("TRANSFER-ENCODING") == '\0') {
                linger = Linger::WhenInputWaits;
            }
            RequestRouter router(tables);
            if (router.route(request)) {
                router.dispatch(request);
            }
        }
    } catch (HTTPHeaderException& e) {
        control->onException(e);
        answerQuietly(response, 400, e.getMessage());
    } catch (WSocketException& e) {
        if (e.getId() == -5) {
            answerQuietly(response, 408, WFormattedString("Max. %u Seconds", 30u));
        }
    } catch (WException& e) {
        control->onException(e);
        answerQuietly(response, 500, e.getMessage());
    } catch (std::exception& e) {
        WException error(WFormattedString("Unexpected error: %s", e.what()), -1);
        control->onException(error);
        answerQuietly(response, 500, error.getMessage());
    }
    closeClient(linger);
}

void ZorvaneWorker::closeClient(Linger linger)
{
    // The drain costs the worker a wait for the client's close; after a
    // complete request without a body it is only needed when bytes follow.
    int fd = client.getHandle();
    if (fd >= 0 && client.shutdownSend() && (linger == Linger::Always || inputWaiting(fd))) {
        drainInput(fd);
    }
    try {
        client.close();
    } catch (WException&) {
        // nothing to do about it
    }
}
