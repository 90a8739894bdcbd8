#pragma once

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

struct ScriptJob;

// Script jobs waiting for a worker. A worker that finishes a job takes the
// next one without sleeping; only when the queue is empty does it wait, and
// only then does a new job cost a wake-up.
class ConnectionQueue {
public:
    static constexpr int64_t KICK_MS = 1;

    ConnectionQueue();

    // now: the monotonic clock in milliseconds.
    void push(ScriptJob* job, int64_t now);
    // Wakes a worker for a job that has waited too long; true while
    // jobs wait (the caller then looks again after KICK_MS).
    bool kick(int64_t now);
    // The next job; null once stop is set (the waiters are woken by
    // wakeAll) or the queue was closed and is empty.
    ScriptJob* pop(const std::atomic<bool>& stop);
    // Takes everything still queued (when the server stops).
    void drain(std::vector<ScriptJob*>& out);
    void wakeAll();
    size_t size();

private:
    std::mutex lock;
    std::condition_variable ready;
    struct Entry {
        ScriptJob* job;
        int64_t since;
    };
    std::vector<Entry> ring; // a ring buffer, grown when full
    size_t head;
    size_t count;
    int sleepers;
    int serving; // workers that took a job and have not come back yet
    int waking; // wake-ups sent that no sleeping worker has taken yet
};
