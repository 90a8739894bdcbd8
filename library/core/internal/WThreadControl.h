#pragma once

// Internal to the library: the record a WThread shares with the thread it
// started, and the hooks through which the library's blocking calls let
// WThread::kill end a thread. Not part of the public interface.

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <pthread.h>
#include <sys/types.h>

#include "WSemaphore.h"

class WRunable;

// Thrown out of a library wait of a thread that WThread::kill asked to end.
// It derives from nothing a program catches by type, so it travels up to the
// thread's entry function and runs the destructors on its way.
struct WThreadKilled { };

// Shared by the WThread record and its running thread (each holds a
// reference), so neither side can free it under the other.
struct WThreadControl {
    std::mutex lock;
    std::condition_variable changed; // tid published, thread ended, resumed

    // Guarded by lock.
    pthread_t handle {};
    pid_t tid = 0;
    bool published = false; // the thread has stored its tid
    bool ended = false; // run() has returned and the counter is lowered
    bool released = false; // handle joined or detached
    bool abandoned = false; // the record let go: do not touch the runable
    int priority = 0; // applied by the thread itself when it starts
    WRunable* runable = nullptr;

    // The wait the thread is blocked in, so that kill can wake it. Guarded by lock.
    std::mutex* waitLock = nullptr;
    std::condition_variable* waitCondition = nullptr;
    int blockedFd = -1;

    std::atomic<bool> killRequested {false};
    std::atomic<int> suspendCount {0};

    // The companion semaphore of WThread::wait/signal.
    WSemaphore companion;

    // Asks the thread to end and wakes the library wait it is blocked in.
    void requestKill();

    // The control of the calling thread, or null when a WThread did not start it.
    static WThreadControl* current();
};

namespace WThreadKill {

// True when the calling thread was asked to end.
bool requested();

// Called where a wait of the calling thread has to give up because of a kill
// request: throws WThreadKilled when that is safe here (no NoKillScope, no
// exception already in flight); otherwise returns, and the caller reports its
// ordinary failure.
void end();

// At the start of every blocking library call: holds a suspended thread and
// ends a killed one (see end()); returns true when the call must fail at once.
bool checkPoint();

// Registers a condition wait of the calling thread so that a kill can wake it.
// Build it before taking the wait's lock and let it go after releasing it.
class ConditionWait {
public:
    ConditionWait(std::mutex& lock, std::condition_variable& condition);
    ~ConditionWait();
    ConditionWait(const ConditionWait&) = delete;
    ConditionWait& operator=(const ConditionWait&) = delete;

private:
    WThreadControl* self;
};

// Registers a blocking system call on a descriptor: a kill shuts the
// descriptor down, which wakes recv, send and accept.
class BlockingCall {
public:
    explicit BlockingCall(int fd);
    ~BlockingCall();
    BlockingCall(const BlockingCall&) = delete;
    BlockingCall& operator=(const BlockingCall&) = delete;

private:
    WThreadControl* self;
};

} // namespace WThreadKill
