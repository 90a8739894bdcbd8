#pragma once

#include <cstdint>

#include "BodyFraming.h"
#include "ClientConnection.h"
#include "RoutingTables.h"
#include "ServerConfig.h"

class HTTPResponse;
class ZorvaneControl;
struct PendingConnection;
struct ScriptJob;

// What a request is and who answers it, decided once. On an event loop it
// parses and routes a request whose head has arrived and answers everything
// that needs no script: files, folder redirects, 304s, ranges and error
// pages. Only a script run (or a request the loop cannot route without
// reading a folder) goes to a worker, whose handler then answers it. Either
// way the answer goes into the connection's output queue.
class RequestHandler {
public:
    // Largest body a CGI program is given.
    static constexpr uint64_t CGI_BODY_LIMIT = 128ull * 1024 * 1024;

    RequestHandler() = default;

    void configure(ZorvaneControl* control, const ServerConfig& config, const RoutingTables& tables);

    // On the connection's loop: parses the head once, sets connection.route,
    // and for the worker routes connection.bodyLimit; answers it itself when
    // the route is Loop (413 at once for a body larger than largestBody()).
    // Returns what the head says about the body.
    BodyFraming begin(PendingConnection& connection, uint32_t localAddress, uint16_t localPort);
    // On a worker: answers the request that begin() routed to a worker. A
    // CGI program it starts is left in the job for the loop to carry.
    void serve(ScriptJob& job);
    // On the loop: an error page for a request that gets no further (a body
    // too large or too slow, a server that stops), unless an answer began.
    void refuse(PendingConnection& connection, unsigned code, const char* message);

    // The largest body any request may have (before it is routed).
    static uint64_t largestBody();

    // What the requests it serves log through.
    ZorvaneControl* getControl() const { return control; }

    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

private:
    enum class Place { Loop, Worker };
    // Runs answer with the failures of a request turned into error pages.
    template <typename Answer> void guarded(HTTPResponse& response, Answer answer);
    void answerQuietly(HTTPResponse& response, unsigned code, const char* message);
    static void endIfCut(ScriptJob& job, const HTTPResponse& response);
    void routeOnLoop(PendingConnection& connection);

    ServerConfig config;
    ZorvaneControl* control = nullptr;
    RoutingTables tables;
    bool archiveFolders = false; // folders read through the file layer
    ClientConnection stream;
};
