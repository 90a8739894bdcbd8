#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>

#include <netinet/in.h>
#include <vector>

#include "ConnectionQueue.h"
#include "PendingConnection.h"

class ZorvaneControl;

// Answers, on the event loop's own thread, the requests that need no worker
// and can be answered without waiting: a worker's hand-off would cost more
// than the answer.
class QuickAnswerer {
public:
    // True when it answered connection (and released or gave it back).
    virtual bool answerNow(PendingConnection* connection) = 0;

protected:
    ~QuickAnswerer() = default;
};

// The server thread's side of every connection: it accepts them in batches,
// reads their header blocks (and short bodies) on one event set, and hands
// each to the workers' queue only when its request is complete, so a client
// that is slow, idle or silent never holds a worker. When a worker is done it
// gives the connection back for what needs no worker either: reading and
// dropping the client's remaining input before the close, and finishing a
// file transfer to a client that reads slowly.
class ConnectionReactor {
public:
    // Up to this much of a body is read before a worker takes the request.
    static constexpr uint64_t BODY_PREREAD_LIMIT = 64 * 1024;
    // How long the client's remaining input is read and dropped after the answer.
    static constexpr int LINGER_MS = 2000;
    // Descriptors kept free for files, pipes and the script runtime.
    static constexpr long RESERVED_DESCRIPTORS = 128;

    ConnectionReactor(ConnectionQueue& queue);
    ~ConnectionReactor();

    // Prepares a run on listenFd (which it makes non-blocking); loops: how
    // many event loops share the descriptors the process may open. Throws
    // WException when the event set cannot be made.
    void open(int listenFd, ZorvaneControl* control, int loops = 1);
    // Complete requests without a body are offered to answerer first.
    void setQuickAnswerer(QuickAnswerer* answerer) { quick = answerer; }
    // Serves connections until stop is set. A failure of the listening
    // socket itself throws WSocketException "Cannot accept socket." (-9).
    void run(const std::atomic<bool>& stop);
    // Ends the run: closes every connection it holds and every one still
    // waiting for a worker. Connections given back later are closed at once.
    void close();
    // Wakes run() (from any thread).
    void wake();

    // Time-outs for connections: the longest wait for a piece of a body and
    // the window in which a send must make progress.
    void setTimeouts(unsigned long receiveMs, unsigned long sendWindowMs);
    unsigned long getReceiveTimeout() const { return receiveTimeoutMs.load(); }
    unsigned long getSendWindow() const { return sendWindowMs.load(); }
    // The time a body may take in all, counted from the end of its header block.
    static void setBodyTimeLimit(unsigned long milliseconds);
    static unsigned long getBodyTimeLimit();

    // From a worker that has answered connection: Linger drains the
    // client's input before the close (the sending side is already shut);
    // Send finishes the file transfer set up in the connection's Sending
    // fields.
    enum class Finish { Linger, Send };
    // False when the server thread no longer runs: the caller then closes
    // the connection itself (and recycles it).
    bool giveBack(PendingConnection* connection, Finish how);
    // Closes a connection that a worker answered (from the worker's thread).
    void release(PendingConnection* connection);

    // The local end of a connection: the listener's address when it is
    // bound to one, else the system's answer.
    void getLocalAddress(int fd, sockaddr_in& out) const;

    // Open connections, for tests and the start-up check.
    long openConnections() const { return openCount.load(); }

private:
    // How far reading a connection's request got .
    enum class Progress {
        Ready, // complete, or ended by its client or a limit: for a worker
        Waiting, // more is to come
        Closed, // closed without a request: nothing to answer
    };
    // Reads what has arrived of the head (and a short body) without waiting.
    Progress receive(PendingConnection* connection, char* buffer, size_t size, int64_t now);

    void acceptBatch(int64_t now);
    void prepare(PendingConnection* c, int fd, const sockaddr_in& peer, int64_t now);
    void startConnection(PendingConnection* c, int64_t now);
    void readInput(PendingConnection* c, int64_t now);
    // After the head: true when a body is to be waited for.
    bool awaitBody(PendingConnection* c, int64_t now);
    void toWorker(PendingConnection* c);
    void sendMore(PendingConnection* c, int64_t now);
    void sendDone(PendingConnection* c, int64_t now);
    void startLinger(PendingConnection* c, int64_t now);
    void closeConnection(PendingConnection* c);
    void takeReturns(int64_t now);
    void sweep(int64_t now);
    void arm(PendingConnection* c, uint32_t events);
    void disarm(PendingConnection* c);
    void addActive(PendingConnection* c);
    void removeActive(PendingConnection* c);
    void setListening(bool on);
    // Ends a file transfer that made too little progress, or failed.
    void cut(PendingConnection* c);
    PendingConnection* allocate();
    void recycle(PendingConnection* connection);

    ConnectionQueue& queue;
    QuickAnswerer* quick = nullptr;
    ZorvaneControl* control;
    int listenFd;
    int epollFd;
    // Made by the server thread on its first start, written by stop() from
    // any thread.
    std::atomic<int> wakeFd;
    bool listening;
    int64_t resumeListeningAt;
    bool exhaustionReported;
    long maxOpen;
    sockaddr_in listenAddress;
    std::atomic<long> openCount;
    std::atomic<unsigned long> receiveTimeoutMs;
    std::atomic<unsigned long> sendWindowMs;
    std::vector<PendingConnection*> active; // connections with a deadline

    std::mutex returnsLock;
    bool running;
    std::vector<std::pair<PendingConnection*, Finish>> returns;
    std::vector<std::pair<PendingConnection*, Finish>> taking;

    std::mutex poolLock;
    std::vector<PendingConnection*> pool;

    char scratch[65536];

    ConnectionReactor(const ConnectionReactor&) = delete;
    ConnectionReactor& operator=(const ConnectionReactor&) = delete;
};
