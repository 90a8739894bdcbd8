#pragma once

#include "WCriticalSection.h"
#include "WMutex.h"

// A scope lock over a critical section or a WMutex: entered by the
// constructor or lock(), left by the destructor. Locking again first leaves
// what the locker held, so it never holds two locks.
class WMutexLocker {
public:
    WMutexLocker();
    explicit WMutexLocker(CRITICAL_SECTION& section);
    explicit WMutexLocker(WMutex& mutex);
    ~WMutexLocker();
    WMutexLocker(const WMutexLocker&) = delete;
    WMutexLocker& operator=(const WMutexLocker&) = delete;

    void lock(CRITICAL_SECTION& section);
    void lock(WMutex& mutex);

private:
    void release();

    CRITICAL_SECTION* section;
    WMutex* mutex;
};
