#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ChunkedDecoder.h"
#include "HeaderBlockCollector.h"
#include "ScriptJob.h"
#include "WString.h"

class ConnectionReactor;

// A client connection, owned by the event loop that accepted it from accept
// to close (see ConnectionReactor, which shows its whole life). A worker sees
// only its script job: the body collected here and the output queue, which
// the loop sends. The objects are pooled and reused.
struct PendingConnection final : ScriptJob {
    enum class State {
        Head, // the loop reads the header block
        Body, // the loop reads a script's body
        Running, // queued for a worker, its script runs, or the loop carries its CGI program; the loop sends what comes
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
    PendingConnection() : collector(*raw)
    {
        for (int i = 0; i < CGIProcess::PIPE_COUNT; ++i)
            programTags[i] = Tag {Tag::Kind::Program, i, this};
    }

    // Once the head is parsed a large block goes: a connection that waits
    // (or lingers) keeps only what common requests need.
    void releaseLargeHead()
    {
        if (raw->getBufLength() > KEPT_HEAD_BYTES) raw = std::make_unique<WString>(INITIAL_HEAD_BYTES);
    }

    static constexpr unsigned long INITIAL_HEAD_BYTES = 4096;
    static constexpr unsigned long KEPT_HEAD_BYTES = 16384;

    void outputReady() override;
    void workerDone() override;

    // The loop carries a CGI program for it (the program field is the
    // worker's while it holds the job).
    bool carriesProgram() const { return !withWorker && program != nullptr; }

    // Where a descriptor's events go: the socket, or a pipe of the CGI
    // program the loop carries for it.
    struct Tag {
        enum class Kind { Socket, Program } kind;
        int pipe; // a CGIProcess::Pipe
        PendingConnection* connection;
    };
    Tag socketTag {Tag::Kind::Socket, 0, this};
    Tag programTags[CGIProcess::PIPE_COUNT];
    // The program's descriptors in the loop's event set (-1: none).
    int programFds[CGIProcess::PIPE_COUNT] = {-1, -1, -1, -1};

    int fd = -1;
    ConnectionReactor* owner = nullptr; // the event loop that accepted it
    sockaddr_in peer = {};
    State state = State::Head;
    Outcome outcome = Outcome::Request;
    std::unique_ptr<WString> raw = std::make_unique<WString>(INITIAL_HEAD_BYTES); // the header block
    std::string extra; // bytes received after the block, before the body is known
    HeaderBlockCollector collector;
    int64_t deadline = 0; // monotonic ms: when the current wait ends
    int64_t lastInputAt = 0; // monotonic ms: when bytes of the head last came
    size_t activeIndex = 0; // place in the loop's list of timed connections
    bool registered = false; // in the loop's event set
    bool armed = false; // its one event is still to come
    bool inputDone = false; // the whole request (body included) was read
    bool clientCloses = false; // the client said it sends nothing after this request
    bool acksAtOnce = false; // the socket acknowledges what arrives at once
    // The client shut its sending side with its request (or right after
    // it): it still waits for the answer, so that end of input is no leave.
    bool halfClosed = false;
    bool withWorker = false; // the job is queued for or held by a worker
    int64_t handedOver = 0; // monotonic ms: when the job went to a worker
    uint64_t handedOverTurn = 0; // the loop's turn then

    // Notes for the loop (bits by ConnectionReactor::Note), under its lock.
    unsigned notes = 0;
    PendingConnection* noteNext = nullptr;
    // The notes the loop took, and the next connection it took notes of.
    unsigned takenNotes = 0;
    PendingConnection* takenNext = nullptr;

    // The body of a script's request (kept in the job) arrives through these.
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
};
