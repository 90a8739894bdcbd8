#include "WMutex.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#include <pthread.h>
#include <unistd.h>

#include "internal/WThreadControl.h"

// Robust, so that a mutex whose owner thread ended without leaving it is
// handed to the next thread that enters; recursive like the system mutex.
// The owner and depth are kept beside it, so that a leave by a thread that
// does not own it is told apart without asking the mutex.
struct WMutexHandle {
    pthread_mutex_t mutex;
    std::atomic<pid_t> owner {0};
    long depth = 0; // written only by the owner
};

namespace {

// A waiting library thread looks at kill requests this often.
constexpr long SLICE_MS = 100;

timespec after(clockid_t clock, long ms)
{
    timespec t;
    clock_gettime(clock, &t);
    t.tv_sec += ms / 1000;
    t.tv_nsec += (ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec++;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

long msUntil(const timespec& deadline)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (deadline.tv_sec - now.tv_sec) * 1000 + (deadline.tv_nsec - now.tv_nsec) / 1000000;
}

// Completes a lock result: true when it grants ownership.
bool granted(WMutexHandle* h, int rc)
{
    if (rc == EOWNERDEAD) {
        // The owner ended inside: the mutex comes with one level, ours now.
        pthread_mutex_consistent(&h->mutex);
        h->owner = gettid();
        h->depth = 1;
        return true;
    }
    if (rc != 0) return false;
    pid_t self = gettid();
    if (h->owner.load() == self) {
        h->depth++;
    } else {
        h->owner = self;
        h->depth = 1;
    }
    return true;
}

} // namespace

WMutex::WMutex() : handle(nullptr)
{
}

WMutex::WMutex(bool) : handle(nullptr)
{
}

WMutex::~WMutex()
{
    close();
}

void WMutex::create(bool initialOwner)
{
    if (handle != nullptr) return;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    auto* h = new WMutexHandle;
    int rc = pthread_mutex_init(&h->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (rc != 0) {
        delete h;
        return;
    }
    handle = h;
    if (initialOwner) granted(h, pthread_mutex_lock(&h->mutex));
}

bool WMutex::enter(int milliseconds)
{
    WMutexHandle* h = handle;
    if (h == nullptr) return false;
    if (granted(h, pthread_mutex_trylock(&h->mutex))) return true;
    if (milliseconds == 0) return false;

    bool unlimited = milliseconds < 0;
    timespec deadline = after(CLOCK_MONOTONIC, unlimited ? 0 : milliseconds);
    for (;;) {
        if (WThreadKill::checkPoint()) return false;
        long slice = SLICE_MS;
        if (!unlimited) {
            long left = msUntil(deadline);
            if (left <= 0) return false;
            if (left < slice) slice = left;
        }
        // Short slices of the wall clock, the whole wait on the monotonic one:
        // a clock change can stretch or cut one slice only.
        timespec until = after(CLOCK_REALTIME, slice);
        int rc = pthread_mutex_timedlock(&h->mutex, &until);
        if (granted(h, rc)) return true;
        if (rc != ETIMEDOUT) return false;
    }
}

void WMutex::leave()
{
    WMutexHandle* h = handle;
    if (h == nullptr || h->owner.load() != gettid()) return; // not the owner: nothing to release
    if (--h->depth == 0) h->owner = 0;
    pthread_mutex_unlock(&h->mutex);
}

void WMutex::close()
{
    WMutexHandle* h = handle;
    if (h == nullptr) return;
    handle = nullptr;
    // Leave every level the caller holds. A mutex another thread still owns
    // sits in that thread's robust list, so its memory must stay: it is left
    // behind rather than freed under that thread.
    if (granted(h, pthread_mutex_trylock(&h->mutex))) {
        while (h->depth > 0) {
            h->depth--;
            pthread_mutex_unlock(&h->mutex);
        }
        h->owner = 0;
        pthread_mutex_destroy(&h->mutex);
        delete h;
    }
}
