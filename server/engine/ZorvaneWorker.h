#pragma once

#include <atomic>

#include "RequestHandler.h"
#include "RoutingTables.h"
#include "ServerConfig.h"
#include "WThread.h"

class Zorvane;
class ZorvaneControl;
struct ScriptJob;

// One of the server's worker threads: it takes the next script job that an
// event loop made (its body read whole already), runs it, and gives the job
// back to its loop, which sends the answer. A worker never sees a client's
// connection.
class ZorvaneWorker : public WRunable {
public:
    enum class State {
        Stopped, // no thread
        Running, // serving the queue
        Stopping, // asked to end; its thread still runs
    };

    ZorvaneWorker();
    ~ZorvaneWorker() override;

    // Starts the thread on these settings (the tables are copied). A worker
    // of the last run that is still winding down is waited for first, so
    // that nothing it still uses changes under it.
    void start(ZorvaneControl* control, const ServerConfig& config, const RoutingTables& tables, Zorvane* server);
    // Asks the thread to end; with wait, joins it for up to timeoutMs and
    // kills it when that runs out.
    void stop(bool wait, unsigned long timeoutMs);
    // Asks the thread to end without waiting (the first half of stop).
    void requestStop();
    // Serving a request right now.
    bool isBusy() const { return busy.load(); }
    State getState() const;

    void run() override;

private:
    void serve(ScriptJob& job);
    void endThread(unsigned long timeoutMs);

    std::atomic<bool> stopRequested;
    std::atomic<bool> busy;
    Zorvane* server;
    RequestHandler handler;
};
