#pragma once

struct WMutexHandle;

// A re-entrant mutex with timed entry. When its owner thread ends without
// leaving it, the next enter is granted (and reports true).
class WMutex {
public:
    WMutex();
    explicit WMutex(bool); // the argument is not used; no mutex is made yet
    ~WMutex();
    WMutex(const WMutex&) = delete;
    WMutex& operator=(const WMutex&) = delete;

    // Makes the mutex when there is none yet, owned at once by the caller
    // when initialOwner is true. Does nothing when it exists.
    void create(bool initialOwner);
    // Waits up to milliseconds (-1: without limit) for ownership.
    bool enter(int milliseconds);
    // Releases one level of ownership; nothing when the caller does not own it.
    void leave();
    void close();

    bool isCreated() const { return handle != nullptr; }

private:
    WMutexHandle* handle;
};
