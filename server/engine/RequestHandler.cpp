#include "RequestHandler.h"

#include <climits>

#include <exception>

#include <arpa/inet.h>

#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "PHPRuntime.h"
#include "PathResolver.h"
#include "PendingConnection.h"
#include "RequestRouter.h"
#include "WException.h"
#include "WIPAddress.h"
#include "ZorvaneControl.h"

namespace {

uint64_t phpBodyLimit()
{
    unsigned long long limit = getPHPPostMaxSize();
    // A request's length is an int: a larger post_max_size cannot be met.
    if (limit > (unsigned long long)INT_MAX) limit = INT_MAX;
    return limit > 0 ? (uint64_t)limit : RequestHandler::CGI_BODY_LIMIT;
}

} // namespace

uint64_t RequestHandler::largestBody()
{
    uint64_t php = phpBodyLimit();
    return php > CGI_BODY_LIMIT ? php : CGI_BODY_LIMIT;
}

void RequestHandler::configure(ZorvaneControl* owner, const ServerConfig& settings, const RoutingTables& routing)
{
    control = owner;
    config = settings;
    config.documentPath.replace('\\', '/');
    tables = routing;
    // Archive members are read through the file layer, on a worker.
    archiveFolders = config.documentPath.charAt(0) == '$';
    for (const RoutingEntry& e : tables.virtualDirectories.entries()) {
        if (e.value.charAt(0) == '$') archiveFolders = true;
    }
}

void RequestHandler::answerQuietly(HTTPResponse& response, unsigned code, const char* message)
{
    try {
        response.sendError(lookupHTTPStatus(code), message, true);
    } catch (WException&) {
        // the client is gone
    }
}

template <typename Answer>
void RequestHandler::guarded(HTTPResponse& response, Answer answer)
{
    unsigned code = 0;
    WString message;
    try {
        answer();
        return;
    } catch (HTTPHeaderException& e) {
        control->onException(e);
        code = e.getStatusCode();
        message = e.getMessage();
    } catch (WSocketException& e) {
        if (e.getId() != -5) return; // the client is gone: nobody to answer
        code = 408;
        message = WFormattedString("Max. %u Seconds", 30u);
    } catch (WException& e) {
        control->onException(e);
        code = 500;
        message = e.getMessage();
    } catch (std::exception& e) {
        WException error(WFormattedString("Unexpected error: %s", e.what()), -1);
        control->onException(error);
        code = 500;
        message = error.getMessage();
    }
    answerQuietly(response, code, message);
}

void RequestHandler::endIfCut(ScriptJob& job, const HTTPResponse& response)
{
    // Part of the answer went out before it failed: an error page would have
    // landed inside its body. The connection is reset instead, and the
    // client sees it cut.
    if (response.wasCut()) job.output.kill();
}

BodyFraming RequestHandler::begin(PendingConnection& c, uint32_t localAddress, uint16_t localPort)
{
    c.route = PendingConnection::Route::Loop;
    stream.attach(c.output, nullptr, ClientConnection::Server::EventLoop, nullptr);
    HTTPResponse response(control, &stream);
    guarded(response, [&] {
        switch (c.outcome) {
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
        c.request.emplace(control, &response);
        WIPAddress peer(c.peer.sin_addr.s_addr, ntohs(c.peer.sin_port));
        if (c.request->take(*c.raw, c.collector.lineCount(), peer, WIPAddress(localAddress, localPort),
                config.documentPath)
            != HTTPRequest::ReadResult::Request) {
            return;
        }
        // A body too large for any script is refused before it is read.
        if (c.request->framing.tooLarge || (uint64_t)c.request->framing.contentLength > largestBody()) {
            answerQuietly(response, 413, WFormattedString("Max. %llu Bytes", (unsigned long long)largestBody()));
            return;
        }
        routeOnLoop(c);
    });
    endIfCut(c, response);
    BodyFraming framing;
    if (c.outcome == PendingConnection::Outcome::Request && c.request) framing = c.request->framing;
    if (c.route == PendingConnection::Route::Loop) c.request.reset();
    stream.detach();
    return framing;
}

void RequestHandler::routeOnLoop(PendingConnection& c)
{
    HTTPRequest& request = *c.request;
    if (archiveFolders) {
        c.route = PendingConnection::Route::Worker;
        c.bodyLimit = largestBody();
        return;
    }
    // Routing fills these from the URL: kept so that a worker can route again.
    WString scriptName = request.scriptName;
    WString documentRoot = request.documentRoot;
    RequestRouter router(tables);
    {
        PathResolver::RefusedScans scans;
        bool routed = router.route(request);
        if (scans.wasScanRefused()) {
            // A large folder to search for the name's case: not on the loop.
            request.scriptName = scriptName;
            request.documentRoot = documentRoot;
            request.pathInfo.clear();
            request.interpreterKey.clear();
            request.scriptFilename.clear();
            request.pathTranslated.clear();
            c.route = PendingConnection::Route::Worker;
            c.bodyLimit = largestBody();
            return;
        }
        if (!routed) return; // a folder's redirect went out
    }
    if (const WString* command = router.scriptCommand(request)) {
        c.route = PendingConnection::Route::Script;
        c.bodyLimit = command->equals(RoutingTables::PHP_BUILT_IN) ? phpBodyLimit() : CGI_BODY_LIMIT;
        return;
    }
    router.dispatch(request);
}

void RequestHandler::serve(ScriptJob& job)
{
    stream.attach(job.output, &job.body, ClientConnection::Server::Worker, &job);
    {
        HTTPResponse response(control, &stream);
        HTTPRequest& request = *job.request;
        request.response = &response;
        guarded(response, [&] {
            RequestRouter router(tables, &job);
            if (job.route == ScriptJob::Route::Worker && !router.route(request)) return;
            router.dispatch(request);
        });
        endIfCut(job, response);
        // The loop that made the request ends it with the connection: what
        // it allocated goes back where it came from, without a lock shared
        // with the loop's allocations.
        request.response = nullptr;
    }
    stream.detach();
}

void RequestHandler::refuse(PendingConnection& c, unsigned code, const char* message)
{
    stream.attach(c.output, nullptr, ClientConnection::Server::EventLoop, nullptr);
    {
        HTTPResponse response(control, &stream);
        answerQuietly(response, code, message);
    }
    stream.detach();
}
