#pragma once

struct WSemaphoreHandle;

// A counting semaphore (maximum 2147483647) with timed waits. Waits are
// relative, in milliseconds; a value below 1 waits without limit. A thread
// started by WThread that is killed while it waits here ends at once.
class WSemaphore {
public:
    WSemaphore();
    explicit WSemaphore(int initial);
    ~WSemaphore();
    WSemaphore(const WSemaphore&) = delete;
    WSemaphore& operator=(const WSemaphore&) = delete;

    // Replaces the semaphore, if any, by a new one with the given count.
    void create(int initial);
    // False without a semaphore or on time-out; true when a count was taken,
    // and always true for an unlimited wait.
    bool wait(int milliseconds);
    // Raises the count by one (never beyond the maximum).
    void signal();
    void close();

    bool isCreated() const { return handle != nullptr; }

private:
    WSemaphoreHandle* handle;
};
