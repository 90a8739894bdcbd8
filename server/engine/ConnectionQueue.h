#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

struct PendingConnection;

// Connections whose request head is complete, waiting for a worker. A worker
// that finishes a request takes the next one without sleeping; only when the
// queue is empty does it wait, and only then does a new connection cost a
// wake-up.
class ConnectionQueue {
public:
    ConnectionQueue();

    void push(PendingConnection* connection);
    // The next connection; null once stop is set (the waiters are woken by
    // wakeAll) or the queue was closed and is empty.
    PendingConnection* pop(const std::atomic<bool>& stop);
    // Takes everything still queued (when the server stops).
    void drain(std::vector<PendingConnection*>& out);
    void wakeAll();
    size_t size();

private:
    std::mutex lock;
    std::condition_variable ready;
    std::vector<PendingConnection*> ring; // a ring buffer, grown when full
    size_t head;
    size_t count;
    int sleepers;
};
