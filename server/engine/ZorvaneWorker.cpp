#include "ZorvaneWorker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "PendingConnection.h"
#include "RequestRouter.h"
#include "WException.h"
#include "WIPAddress.h"
#include "Zorvane.h"
#include "ZorvaneControl.h"

namespace {

// A chunked body is decoded whole before a script runs, so that it gets a
// length like any other; beyond this size it is refused.
const size_t MAX_CHUNKED_BODY = 16 * 1024 * 1024;

} // namespace

ZorvaneWorker::ZorvaneWorker()
    : stopRequested(false), busy(false), control(nullptr), server(nullptr), current(nullptr), handedOff(false)
{
}

ZorvaneWorker::~ZorvaneWorker()
{
    // The thread must not outlive the members it uses.
    if (thread.isActive()) {
        stop(true, Zorvane::WORKER_STOP_MS);
    }
}

void ZorvaneWorker::configure(ZorvaneControl* owner, const ServerConfig& settings)
{
    config = settings;
    config.documentPath.replace('\\', '/');
    control = owner;
}

void ZorvaneWorker::setRouting(const RoutingTables& routing, Zorvane* owner)
{
    tables = routing;
    server = owner;
}

void ZorvaneWorker::start()
{
    if (thread.isActive()) {
        return;
    }
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
    if (server != nullptr) {
        server->queue.wakeAll();
    }
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

void ZorvaneWorker::run()
{
    Zorvane::currentServer = server;
    while (!stopRequested.load()) {
        busy = false;
        PendingConnection* pending = server->queue.pop(stopRequested);
        if (pending == nullptr) {
            break;
        }
        busy = true;
        serve(pending);
    }
    busy = false;
}

bool ZorvaneWorker::answerNow(PendingConnection* pending)
{
    if (!isPlainFileRequest(pending->raw.getBuf(), tables, config.documentPath)) {
        return false;
    }
    connection.setServer(ClientConnection::Server::EventLoop);
    serve(pending);
    return true;
}

void ZorvaneWorker::answerQuietly(HTTPResponse& response, unsigned code, const char* message)
{
    try {
        response.sendError(lookupHTTPStatus(code), message, true);
    } catch (WException&) {
        // the client is gone
    }
}

void ZorvaneWorker::answer(PendingConnection* pending, HTTPResponse& response, bool& lingerAlways)
{
    switch (pending->outcome) {
    case PendingConnection::Outcome::TimedOut:
        answerQuietly(response, 408, WFormattedString("Max. %u Seconds", 30u));
        return;
    case PendingConnection::Outcome::TooLarge: {
        HTTPHeaderException e("Request header too large.");
        control->onException(e);
        answerQuietly(response, 400, e.getMessage());
        return;
    }
    case PendingConnection::Outcome::Request:
        break;
    }
    HTTPRequest request(control, &response);
    WIPAddress peer(pending->peer.sin_addr.s_addr, ntohs(pending->peer.sin_port));
    sockaddr_in local;
    pending->owner->getLocalAddress(pending->fd, local);
    if (request.take(pending->raw, pending->collector.lineCount(), peer,
            WIPAddress(local.sin_addr.s_addr, ntohs(local.sin_port)), config.documentPath)
        != HTTPRequest::ReadResult::Request) {
        return;
    }
    bool chunked = *request.getHeader("TRANSFER-ENCODING") != '\0';
    if (request.contentLength <= 0 && !chunked) {
        lingerAlways = false;
    }
    RequestRouter router(tables);
    if (!router.route(request)) {
        return;
    }
    if (chunked && request.interpreterKey.length() > 0) {
        // Scripts read a body of known length: the chunks are joined first.
        if (!connection.decodeChunkedBody(MAX_CHUNKED_BODY)) {
            throw HTTPHeaderException("Invalid chunked body.");
        }
        request.contentLength = (int)connection.pendingBytes();
    }
    router.dispatch(request);
}

void ZorvaneWorker::serve(PendingConnection* pending)
{
    current = pending;
    handedOff = false;
    connection.attach(pending->fd, pending->extra.data(), pending->extra.size());
    ConnectionReactor& reactor = *pending->owner;
    connection.setReceiveTimeout(reactor.getReceiveTimeout());
    connection.setSendWindow(reactor.getSendWindow());
    connection.setBodyDeadline(pending->bodyDeadline);
    connection.setBodyStalled(pending->bodyStalled);
    connection.setExpectContinue(pending->expectContinue);
    connection.setFileSendHandoff(this);
    // Until a whole header block of a request without a body has arrived,
    // the client may still be sending.
    bool lingerAlways = true;
    {
        HTTPResponse response(control, &connection);
        try {
            answer(pending, response, lingerAlways);
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
    }
    if (!handedOff) {
        finish(pending, lingerAlways);
    }
    current = nullptr;
}

void ZorvaneWorker::finish(PendingConnection* pending, bool lingerAlways)
{
    // After a complete request without a body the drain is needed only when
    // more bytes came after it; the server thread does it, not a worker.
    bool cut = connection.wasCut();
    bool drain = !cut && (lingerAlways || connection.socketInputWaiting());
    pending->fd = connection.detach();
    if (pending->fd < 0) {
        return;
    }
    if (cut) {
        ClientConnection::abortOnClose(pending->fd);
    }
    if (drain && ::shutdown(pending->fd, SHUT_WR) == 0
        && pending->owner->giveBack(pending, ConnectionReactor::Finish::Linger)) {
        return;
    }
    pending->owner->release(pending);
}

bool ZorvaneWorker::takeFileSend(
    ClientConnection& client, int fileFd, uint64_t offset, uint64_t count, const char* path)
{
    if (current == nullptr || &client != &connection) {
        return false;
    }
    int copy = fcntl(fileFd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return false;
    }
    PendingConnection* pending = current;
    pending->fileFd = copy;
    pending->offset = offset;
    pending->remaining = count;
    pending->path = path;
    pending->fd = connection.getHandle();
    if (!pending->owner->giveBack(pending, ConnectionReactor::Finish::Send)) {
        ::close(copy);
        pending->fileFd = -1;
        return false;
    }
    connection.detach();
    handedOff = true;
    return true;
}
