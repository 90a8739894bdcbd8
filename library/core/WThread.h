#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class WRunable;
struct WThreadControl;

// A thread running a WRunable's run() once, with a companion semaphore.
//
// kill() is cooperative: it asks the thread to end and wakes the library
// wait it is blocked in (semaphore and thread waits, WMutex::enter, socket
// reads, writes, accepts and connects, WSocketGroup::wait). The wait then
// throws an internal exception that no WException handler catches; it
// unwinds run() up to the thread's entry, so clean-up that must happen on
// a kill belongs in destructors (or a catch (...) that rethrows). A thread
// busy elsewhere ends at its next library wait; kill() waits a bounded time
// for that, and isActive() stays true until run() has really returned.
class WThread {
public:
    // Relative levels, as the priority calls take them.
    enum Priority {
        PRIORITY_IDLE = -15,
        PRIORITY_LOWEST = -2,
        PRIORITY_BELOW_NORMAL = -1,
        PRIORITY_NORMAL = 0,
        PRIORITY_ABOVE_NORMAL = 1,
        PRIORITY_HIGHEST = 2,
        PRIORITY_TIME_CRITICAL = 15
    };

    // How long kill() waits for the thread to end before it lets go of it.
    static constexpr unsigned long KILL_WAIT_MS = 500;
    // join() and wait() take this, or any time above a century, as "no limit".
    static constexpr unsigned long INFINITE_WAIT = 0xFFFFFFFFul;

    WThread();
    ~WThread();
    WThread(const WThread&) = delete;
    WThread& operator=(const WThread&) = delete;

    // Starts a thread running runable->run(). False, doing nothing, while the
    // runable last started here is still active.
    bool start(WRunable* runable);
    // Stores the priority and applies it to a running thread. Raising it
    // needs a privilege on Linux; without it the value is kept, not thrown.
    void setPriority(Priority p);
    Priority getPriority() const { return priority; }
    // True when the thread has ended within the time (at once for an ended one).
    bool join(unsigned long milliseconds);
    // Ends the thread (see above). False when nothing runs.
    bool kill();
    bool isActive() const;
    // Hold and release the thread at its next library wait.
    void suspend();
    void resume();
    // The companion semaphore; below 1 (as a signed number) waits without limit.
    bool wait(unsigned long milliseconds);
    void signal();

    // The kernel id of the thread last started (0 before), and of the caller.
    unsigned long getThreadId() const { return threadId; }
    static unsigned long currentThreadId();
    // True when the caller is the thread this record started.
    bool isCurrent() const;

    // While one exists on a thread, a kill request makes that thread's
    // library waits fail in their ordinary way (time-out, closed connection)
    // instead of ending the thread: for code that must not be unwound, such
    // as callbacks from a C library.
    class NoKillScope {
    public:
        NoKillScope();
        ~NoKillScope();
        NoKillScope(const NoKillScope&) = delete;
        NoKillScope& operator=(const NoKillScope&) = delete;
    };

private:
    static void* threadEntry(void* argument);
    void close();
    void terminate();
    void initialize();
    void releaseControl();

    std::atomic<uint32_t> threadId;
    std::shared_ptr<WThreadControl> thread;
    WRunable* runable;
    Priority priority;
    // The control of the running thread, for isCurrent() from any thread:
    // only compared, never followed.
    std::atomic<WThreadControl*> identity;
};

// An object with a thread of its own: derive, implement run(), and start it
// with thread.start(this). What run() throws is dropped.
//
// The embedded thread is killed when the runable is destroyed, but only after
// the derived parts are gone: owners stop and join their threads in their
// own destructors.
class WRunable {
public:
    virtual void run() = 0;

    WThread& getThread() { return thread; }
    const WThread& getThread() const { return thread; }

protected:
    WRunable();
    virtual ~WRunable();
    WRunable(const WRunable&) = delete;
    WRunable& operator=(const WRunable&) = delete;

    bool started;
    std::atomic<int32_t> active;
    WThread thread;

    friend class WThread;
};
