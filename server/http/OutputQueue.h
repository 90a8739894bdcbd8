#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

// Told when a connection's output queue has something the event loop is not
// already going to look at.
class OutputListener {
public:
    virtual void outputReady() = 0;

protected:
    ~OutputListener() = default;
};

// What a connection's answer still has to send, in order: bytes in memory and
// ranges of files. Whoever answers (the event loop itself, or a worker running
// a script) appends; only the connection's event loop sends, without ever
// waiting for the client. So a script rarely waits for a client either: once
// the memory share is used up its output goes to an unlinked temporary file.
// A worker waits, as a pipe's writer would, while even that holds more than
// SPILL_LIMIT, or while no temporary file can be written and memory is full;
// a client that stops reading is cut by the loop, which ends the wait with a
// failure. Bytes leave in the order they were appended: the piece list is
// the order, and a piece is listed only once its bytes are wholly stored.
class OutputQueue {
public:
    // Bytes kept in memory before output goes to the temporary file.
    static constexpr size_t MEMORY_LIMIT = 256 * 1024;
    // Bytes in the temporary file at the most before a writer waits.
    static constexpr uint64_t SPILL_LIMIT = 1ull << 30;

    OutputQueue() = default;
    ~OutputQueue();

    // Empties the queue for the next answer (nobody writes or sends then).
    void reset();

    // Who appends. A worker may wait for the client; the loop never does
    // (it stops taking a program's output instead, see hasRoom).
    enum class Writer { Worker, Loop };
    // Told, without the queue's lock, when a waiting worker needs the loop
    // to look at what it queued; set before a worker writes.
    void setListener(OutputListener* told, Writer who);
    // The loop may take more output: little is waiting in memory, and the
    // temporary file is below its limit.
    bool hasRoom();
    // The error number of the answer's first failure to store output in the
    // temporary file (EDQUOT: the server's cap), handed out once (0 when
    // none): the writer went on in memory, waiting for the client.
    int takeSpillError();

    // Writer side, any thread. Each returns true when the loop must be told
    // that there is something to look at (it is not already going to look).
    // They throw WSocketException "Cannot write into socket." (-3) once the
    // connection is gone.
    bool append(const void* first, size_t firstLength, const void* second = nullptr, size_t secondLength = 0);
    // count bytes of fd from offset. The queue takes fd over: it is closed
    // once sent or dropped, or at once when this throws.
    bool appendFile(int fd, uint64_t offset, uint64_t count, const char* path);
    // The answer is complete.
    bool finish();

    // Loop side.
    enum class Flush {
        Empty, // everything queued went out
        Blocked, // the socket is full, or the turn's share was sent
        Failed, // the client is gone: the connection ends
        Truncated, // a file ended before its range did
    };
    // Whether more may still be appended to what is queued (a finished queue
    // is always Complete).
    enum class Answer { Open, Complete };
    // Sends at most maxBytes of what is queued without waiting; sent
    // receives how many went out. The caller ends the connection (close or
    // shutdown) as soon as a Complete answer has gone out: its last bytes in
    // memory are held for that, so that they leave in one segment with the
    // close. Bytes followed by a file range are held the same way for the
    // range's first bytes.
    Flush flush(int socket, uint64_t maxBytes, uint64_t& sent, Answer answer = Answer::Open);
    bool isFinished();
    // The file whose range could not be sent whole, after Truncated or
    // Failed ("" when no file was being sent).
    const std::string& brokenFile() const { return brokenPath; }
    // The file the queue is sending now, or "".
    std::string fileInFlight();
    // The client is gone: what is queued goes, writers fail from now on.
    void kill();

    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

private:
    struct Piece {
        std::string bytes; // in memory, or
        int fd = -1; // a range of a file
        bool ownsFd = false;
        uint64_t offset = 0;
        uint64_t length = 0;
        std::string path; // for the log, when the file ends early
    };

    bool tellLoop();
    const std::string& frontFile() const;
    void dropPieces();
    void store(const char* data, size_t length, std::unique_lock<std::mutex>& held);
    bool spill(const char* data, size_t length, std::unique_lock<std::mutex>& held);
    void keepInMemory(const char* data, size_t length);
    // The first failure to store output in the temporary file, once per answer.
    void noteSpillError(int err);
    // Waits (a worker only) until ready() or the client is gone; the loop
    // is told first when it may not know what there is to send.
    template <typename Ready> void waitFor(std::unique_lock<std::mutex>& held, Ready ready);
    bool openSpillFile();
    void releaseSent(uint64_t sentTo);
    // Sends a file range by copy (0 at the file's end). The temporary
    // file's pages are written again once sent, and a zero-copy send would
    // still be reading them; a document's range copies faster over loopback
    // than the system's zero-copy send does.
    ssize_t sendCopy(int socket, Piece& piece, uint64_t room);
    static constexpr size_t COPY_BYTES = 1024 * 1024;

    // Sent bytes of the temporary file are given back in steps of this size.
    static constexpr uint64_t RELEASE_STEP = 8 * 1024 * 1024;

    std::mutex lock;
    std::condition_variable drained;
    std::deque<Piece> pieces;
    size_t memoryBytes = 0;
    int spillFd = -1;
    uint64_t spillEnd = 0; // where the next spilled byte goes
    uint64_t spillFreed = 0; // the file's bytes before this were sent and given back
    uint64_t spillQueued = 0; // spilled bytes not yet sent
    bool loopWillLook = false;
    bool finished = false;
    bool dead = false;
    bool spillBroken = false; // the temporary file failed: memory only, for this answer
    int spillError = 0; // not yet reported
    bool spillErrorSaid = false;
    int waiting = 0; // workers waiting for room
    OutputListener* listener = nullptr;
    Writer writer = Writer::Worker;
    std::string brokenPath;
};
