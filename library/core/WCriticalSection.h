#pragma once

#include <mutex>

// A re-entrant lock, entered and left through WSystem::enterMutex/leaveMutex
// or a WMutexLocker. The library lock g_mutex is one of these.
struct CRITICAL_SECTION {
    std::recursive_mutex lock_;

    void lock() { lock_.lock(); }
    void unlock() { lock_.unlock(); }
    bool tryLock() { return lock_.try_lock(); }
};
