#pragma once

#include <atomic>

#include "RoutingTables.h"
#include "ServerConfig.h"
#include "WSemaphore.h"
#include "WSocket.h"
#include "WThread.h"

class Zorvane;
class ZorvaneControl;
class HTTPResponse;

// One of the server's worker threads: it waits until the server thread hands
// it a connection, answers the one request on it and closes it again.
class ZorvaneWorker : public WRunable {
public:
    ZorvaneWorker();
    ~ZorvaneWorker() override;

    void configure(ZorvaneControl* control, const ServerConfig& config);
    // The tables to route with (copied) and the server to tell when this
    // worker becomes idle; set by the server before it starts the worker.
    void setRouting(const RoutingTables& tables, Zorvane* server);

    // Starts the thread unless it runs already.
    void start();
    // Asks the thread to end; with wait, joins it for up to timeoutMs and
    // kills it when that runs out.
    void stop(bool wait, unsigned long timeoutMs);
    // Asks the thread to end without waiting (the first half of stop).
    void requestStop();
    // Hands a connection over when the worker is idle; false when it is busy.
    // From then on the connection belongs to the worker, which closes it.
    bool assignClient(const WSocket& socket);
    bool isBusy() const { return busy.load(); }
    // Idle and able to take a connection.
    bool isAvailable() const;

    void run() override;

private:
    void serveClient();
    void answerQuietly(HTTPResponse& response, unsigned code, const char* message);
    // Always: the client may still be sending, so its input is drained
    // before the close. WhenInputWaits: the whole request has arrived, so the
    // drain is needed only when more bytes came after it.
    enum class Linger { Always, WhenInputWaits };
    void closeClient(Linger linger);

    ServerConfig config;
    std::atomic<bool> stopRequested;
    std::atomic<bool> busy;
    WSemaphore clientReady;
    WSocket client;
    ZorvaneControl* control;
    RoutingTables tables;
    Zorvane* server;
};
