#pragma once

#include <atomic>

#include "ClientConnection.h"
#include "ConnectionReactor.h"
#include "RoutingTables.h"
#include "ServerConfig.h"
#include "WThread.h"

class Zorvane;
class ZorvaneControl;
class HTTPResponse;
struct PendingConnection;

// One of the server's worker threads: it takes the next connection whose
// request has arrived from the server's queue, answers that one request and
// gives the connection back (closed, or to be drained or finished by the
// server thread). Without a thread of its own it serves an event loop as its
// quick answerer: plain file requests are answered there, without a hand-off.
class ZorvaneWorker : public WRunable, public QuickAnswerer, private FileSendHandoff {
public:
    ZorvaneWorker();
    ~ZorvaneWorker() override;

    void configure(ZorvaneControl* control, const ServerConfig& config);
    // The tables to route with (copied) and the server whose queue this
    // worker serves; set by the server before it starts the worker.
    void setRouting(const RoutingTables& tables, Zorvane* server);

    // Starts the thread unless it runs already.
    void start();
    // Asks the thread to end; with wait, joins it for up to timeoutMs and
    // kills it when that runs out.
    void stop(bool wait, unsigned long timeoutMs);
    // Asks the thread to end without waiting (the first half of stop).
    void requestStop();
    // Serving a request right now.
    bool isBusy() const { return busy.load(); }

    void run() override;
    bool answerNow(PendingConnection* connection) override;

private:
    void serve(PendingConnection* pending);
    void answer(PendingConnection* pending, HTTPResponse& response, bool& lingerAlways);
    void answerQuietly(HTTPResponse& response, unsigned code, const char* message);
    void finish(PendingConnection* pending, bool lingerAlways);
    bool takeFileSend(
        ClientConnection& connection, int fileFd, uint64_t offset, uint64_t count, const char* path) override;

    ServerConfig config;
    std::atomic<bool> stopRequested;
    std::atomic<bool> busy;
    ZorvaneControl* control;
    RoutingTables tables;
    Zorvane* server;
    ClientConnection connection; // the connection being served; its buffers are reused
    PendingConnection* current;
    bool handedOff;
};
