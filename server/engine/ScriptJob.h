#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "CGIProcess.h"
#include "HTTPRequest.h"
#include "OutputQueue.h"
#include "RequestBody.h"

// What a worker is given to run a script: the request the loop parsed and
// routed, its body read whole, and the answer's channel. The connection and
// its socket stay with the loop that accepted it; the worker only writes into
// the channel and says when it is done.
struct ScriptJob : OutputListener {
    // Where a request is answered.
    enum class Route {
        Loop, // by the loop
        Script, // routed on the loop: a worker runs the script
        Worker, // the loop cannot route it without waiting: a worker routes and answers it
    };

    Route route = Route::Loop;
    // Made in place by the loop: no allocation per request.
    std::optional<HTTPRequest> request;
    RequestBody body;
    OutputQueue output;
    // The client has gone: a job still queued never starts, and writers
    // fail (the channel is killed too).
    std::atomic<bool> aborted {false};
    // A CGI program the worker started: the loop carries its pipes from
    // here on, so that a program that sleeps holds no worker.
    std::unique_ptr<CGIProcess> program;

    // The worker is done: it never touches the job again.
    virtual void workerDone() = 0;

protected:
    ~ScriptJob() = default;
};
