#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "HeaderBlockCollector.h"
#include "WString.h"

class ConnectionReactor;

// A client connection on its way through the server: its head (and a short
// body) read by the server thread, then its request answered by a worker,
// and at the end its input drained or a slow file transfer finished by the
// server thread again. The objects are pooled and reused.
struct PendingConnection {
    enum class State {
        Head, // the server thread reads the header block
        Body, // the server thread waits for a short body
        Queued, // waiting for a worker, or served by one
        Linger, // answered; the client's remaining input is read and dropped
        Sending, // the server thread sends the rest of a file
    };
    // What the worker is to do with it.
    enum class Outcome {
        Request, // a header block (possibly cut short by the client's close)
        TooLarge, // a limit was passed: 400
        TimedOut, // the block did not arrive in time: 408
    };

    PendingConnection() : collector(raw) { }

    int fd = -1;
    ConnectionReactor* owner = nullptr; // the event loop that accepted it
    sockaddr_in peer = {};
    State state = State::Head;
    Outcome outcome = Outcome::Request;
    WString raw {4096}; // the header block
    std::string extra; // bytes received after the block
    HeaderBlockCollector collector;
    int64_t deadline = 0; // monotonic ms: when the current state ends
    int64_t bodyDeadline = 0; // monotonic ms: no body byte after this
    uint64_t bodyWanted = 0; // bytes of body the server thread waits for
    bool bodyless = false; // the head announces no body
    bool expectContinue = false;
    bool bodyStalled = false; // the server thread stopped waiting for the body
    bool registered = false; // in the server thread's event set
    bool armed = false; // its one event is still to come
    size_t activeIndex = 0; // place in the server thread's list of timed connections
    // State::Sending
    int fileFd = -1;
    uint64_t offset = 0;
    uint64_t remaining = 0;
    int64_t windowStart = 0;
    uint64_t windowBytes = 0;
    std::string path;
};
