#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ChunkedDecoder.h"
#include "ClientConnection.h"
#include "HTTPRequest.h"
#include "HeaderBlockCollector.h"
#include "OutputQueue.h"
#include "RequestBody.h"
#include "WString.h"

class ConnectionReactor;

// A client connection, owned by the event loop that accepted it from accept
// to close (see ConnectionReactor, which shows its whole life). A worker
// borrows it only to run a script: it reads the body collected here and
// writes into the output queue, which the loop sends. The objects are pooled
// and reused.
struct PendingConnection final : OutputListener {
    enum class State {
        Head, // the loop reads the header block
        Body, // the loop reads a script's body
        Running, // queued for a worker, or its script runs; the loop sends what it writes
        Sending, // the answer is complete; the loop sends the rest
        Linger, // answered; the client's remaining input is read and dropped
        Orphaned, // the client is gone while a worker still runs the script
        Closed, // ended; the object is reused once the loop's turn is over
    };
    // How reading the head ended.
    enum class Outcome {
        Request, // a header block (possibly cut short by the client's close)
        TooLarge, // a limit was passed: 400
        TimedOut, // the block did not arrive in time: 408
    };
    // Where the request is answered.
    enum class Route {
        Loop, // answered by the loop
        Script, // routed on the loop: a worker runs the script
        Worker, // the loop cannot route it without waiting: a worker routes and answers it
    };

    PendingConnection() : collector(*raw) { }

    // Once the head is parsed a large block goes: a connection that waits
    // (or lingers) keeps only what common requests need.
    void releaseLargeHead()
    {
        if (raw->getBufLength() > KEPT_HEAD_BYTES) raw = std::make_unique<WString>(INITIAL_HEAD_BYTES);
    }

    static constexpr unsigned long INITIAL_HEAD_BYTES = 4096;
    static constexpr unsigned long KEPT_HEAD_BYTES = 16384;

    void outputReady() override;

    int fd = -1;
    ConnectionReactor* owner = nullptr; // the event loop that accepted it
    sockaddr_in peer = {};
    State state = State::Head;
    Outcome outcome = Outcome::Request;
    Route route = Route::Loop;
    std::unique_ptr<WString> raw = std::make_unique<WString>(INITIAL_HEAD_BYTES); // the header block
    std::string extra; // bytes received after the block, before the body is known
    HeaderBlockCollector collector;
    int64_t deadline = 0; // monotonic ms: when the current wait ends
    size_t activeIndex = 0; // place in the loop's list of timed connections
    bool registered = false; // in the loop's event set
    bool armed = false; // its one event is still to come
    bool inputDone = false; // the whole request (body included) was read
    bool clientCloses = false; // the client said it sends nothing after this request
    bool acksAtOnce = false; // the socket acknowledges what arrives at once

    // The request, parsed (and for Route::Script routed) on the loop. Made
    // in place: no allocation per request.
    std::optional<HTTPRequest> request;

    // The body of a script's request.
    RequestBody body;
    ChunkedDecoder decoder;
    std::string decoded;
    bool chunked = false;
    bool expectContinue = false; // the client waits for "100 Continue"
    uint64_t bodyWanted = 0; // Content-Length
    uint64_t bodyLimit = 0;

    // Progress of the body, or of the answer while the client is slow to
    // read it: within each window at least a minimum must move.
    int64_t windowStart = 0;
    uint64_t windowBytes = 0;

    OutputQueue output;
};
