#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// An event that wakes one waiter and then resets itself; signals that arrive
// while nobody waits merge into one. Starts non-signalled.
class AutoResetEvent {
public:
    void signal()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            signalled = true;
        }
        cond.notify_one();
    }

    void wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        cond.wait(lock, [this] { return signalled; });
        signalled = false;
    }

    // False when the time ran out without a signal.
    bool waitFor(std::chrono::nanoseconds timeout)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!cond.wait_for(lock, timeout, [this] { return signalled; })) return false;
        signalled = false;
        return true;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        signalled = false;
    }

private:
    std::mutex mutex;
    std::condition_variable cond;
    bool signalled = false;
};
