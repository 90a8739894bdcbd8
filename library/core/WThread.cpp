#include "WThread.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cxxabi.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "WException.h"
#include "internal/WThreadControl.h"

namespace {

// Per-thread state of the kill machinery.
thread_local WThreadControl* t_self = nullptr;
thread_local int t_noKillDepth = 0;

// Waits longer than a century are taken as unlimited: in the clocks'
// nanoseconds they would overflow and end at once.
constexpr unsigned long LONGEST_WAIT_MS = 100ul * 366 * 24 * 3600 * 1000;

bool isUnlimited(unsigned long ms)
{
    return ms == WThread::INFINITE_WAIT || ms > LONGEST_WAIT_MS;
}

// The nice value standing for each relative level; false for an unknown level.
bool niceOf(int priority, int& nice)
{
    switch (priority) {
    case WThread::PRIORITY_IDLE:
        nice = 19;
        return true;
    case WThread::PRIORITY_LOWEST:
        nice = 10;
        return true;
    case WThread::PRIORITY_BELOW_NORMAL:
        nice = 5;
        return true;
    case WThread::PRIORITY_NORMAL:
        nice = 0;
        return true;
    case WThread::PRIORITY_ABOVE_NORMAL:
        nice = -5;
        return true;
    case WThread::PRIORITY_HIGHEST:
        nice = -10;
        return true;
    case WThread::PRIORITY_TIME_CRITICAL:
        nice = -20;
        return true;
    default:
        return false;
    }
}

// Applies a level to a thread: 0 on success or when Linux merely lacks the
// privilege to raise it (or the thread is already gone), else the errno.
int applyPriority(pid_t tid, int priority)
{
    int nice;
    if (!niceOf(priority, nice)) return EINVAL;
    if (setpriority(PRIO_PROCESS, (id_t)tid, nice) == 0) return 0;
    int e = errno;
    if (e == EPERM || e == EACCES || e == ESRCH) return 0;
    return e;
}

[[noreturn]] void throwThread(int err, const char* message, int id)
{
    errno = err;
    throw WThreadException(message, id);
}

} // namespace

// ---------------------------------------------------------------- kill hooks

WThreadControl* WThreadControl::current()
{
    return t_self;
}

void WThreadControl::requestKill()
{
    killRequested.store(true);
    std::lock_guard<std::mutex> guard(lock);
    if (waitLock != nullptr) {
        // Taking the wait's lock orders the flag before the waiter's next check.
        {
            std::lock_guard<std::mutex> w(*waitLock);
        }
        waitCondition->notify_all();
    }
    if (blockedFd >= 0) ::shutdown(blockedFd, SHUT_RDWR);
    changed.notify_all(); // a suspended thread
}

bool WThreadKill::requested()
{
    return t_self != nullptr && t_self->killRequested.load(std::memory_order_relaxed);
}

void WThreadKill::end()
{
    if (t_noKillDepth == 0 && std::uncaught_exceptions() == 0) throw WThreadKilled();
}

bool WThreadKill::checkPoint()
{
    WThreadControl* self = t_self;
    if (self == nullptr) return false;
    if (self->suspendCount.load() > 0) {
        std::unique_lock<std::mutex> guard(self->lock);
        self->changed.wait(guard, [self] { return self->suspendCount.load() <= 0 || self->killRequested.load(); });
    }
    if (!self->killRequested.load()) return false;
    end();
    return true;
}

WThreadKill::ConditionWait::ConditionWait(std::mutex& waitLock, std::condition_variable& condition) : self(t_self)
{
    if (self == nullptr) return;
    std::lock_guard<std::mutex> guard(self->lock);
    self->waitLock = &waitLock;
    self->waitCondition = &condition;
}

WThreadKill::ConditionWait::~ConditionWait()
{
    if (self == nullptr) return;
    std::lock_guard<std::mutex> guard(self->lock);
    self->waitLock = nullptr;
    self->waitCondition = nullptr;
}

WThreadKill::BlockingCall::BlockingCall(int fd) : self(t_self)
{
    if (self == nullptr) return;
    std::lock_guard<std::mutex> guard(self->lock);
    self->blockedFd = fd;
    // A kill that came before the registration finds nothing to shut down.
    if (self->killRequested.load()) ::shutdown(fd, SHUT_RDWR);
}

WThreadKill::BlockingCall::~BlockingCall()
{
    if (self == nullptr) return;
    // Under the lock: once we are out, kill can no longer touch the descriptor.
    std::lock_guard<std::mutex> guard(self->lock);
    self->blockedFd = -1;
}

WThread::NoKillScope::NoKillScope()
{
    t_noKillDepth++;
}

WThread::NoKillScope::~NoKillScope()
{
    t_noKillDepth--;
}

// ------------------------------------------------------------------ WRunable

WRunable::WRunable() : started(false), active(0)
{
}

WRunable::~WRunable() = default;

// ------------------------------------------------------------------- WThread

WThread::WThread() : threadId(0), runable(nullptr), priority(PRIORITY_NORMAL), identity(nullptr)
{
}

WThread::~WThread()
{
    terminate();
}

void WThread::initialize()
{
    threadId = 0;
    identity = nullptr;
    thread.reset();
    runable = nullptr;
    priority = PRIORITY_NORMAL;
}

// Joins an ended thread or lets a running one go; either way the record no
// longer refers to it afterwards.
void WThread::releaseControl()
{
    if (!thread) return;
    identity = nullptr;
    std::shared_ptr<WThreadControl> ctl = std::move(thread);
    bool join = false;
    {
        std::lock_guard<std::mutex> guard(ctl->lock);
        if (!ctl->released) {
            ctl->released = true;
            join = ctl->ended;
            if (!join) pthread_detach(ctl->handle);
        }
        if (!ctl->ended) ctl->abandoned = true;
    }
    if (join) pthread_join(ctl->handle, nullptr); // returns at once: run() is over
}

void WThread::close()
{
    releaseControl();
    initialize();
}

void WThread::terminate()
{
    try {
        if (!kill()) close();
    } catch (...) {
        close();
    }
    releaseControl(); // a thread that would not end is let go here
}

void* WThread::threadEntry(void* argument)
{
    std::shared_ptr<WThreadControl> ctl(*static_cast<std::shared_ptr<WThreadControl>*>(argument));
    delete static_cast<std::shared_ptr<WThreadControl>*>(argument);
    t_self = ctl.get();

    WRunable* runable;
    {
        std::lock_guard<std::mutex> guard(ctl->lock);
        ctl->tid = gettid();
        // A new thread inherits its creator's level; it must start at its own.
        applyPriority(ctl->tid, ctl->priority);
        ctl->published = true;
        runable = ctl->runable;
        ctl->changed.notify_all();
    }

    // Runs however run() is left, a forced unwind included.
    struct Finish {
        WThreadControl* ctl;
        WRunable* runable;
        ~Finish()
        {
            std::lock_guard<std::mutex> guard(ctl->lock);
            if (!ctl->abandoned) runable->active.fetch_sub(1);
            ctl->ended = true;
            ctl->changed.notify_all();
            t_self = nullptr;
        }
    } finish {ctl.get(), runable};

    try {
        runable->run();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        // Whatever run() throws, a kill included, ends the thread quietly.
    }
    return nullptr;
}

bool WThread::start(WRunable* r)
{
    if (r == nullptr) return false;
    if (runable != nullptr && runable->active.load() != 0) return false;

    Priority kept = priority;
    close();
    priority = kept;

    auto ctl = std::make_shared<WThreadControl>();
    ctl->companion.create(0);
    ctl->runable = r;
    ctl->priority = priority;
    r->started = false;
    runable = r;

    // Raised before the thread exists, so a run() that returns at once
    // cannot be outrun by it.
    r->active.fetch_add(1);
    thread = ctl;
    identity = ctl.get();
    auto* argument = new std::shared_ptr<WThreadControl>(ctl);
    int rc = pthread_create(&ctl->handle, nullptr, &WThread::threadEntry, argument);
    if (rc != 0) {
        delete argument;
        r->active.fetch_sub(1);
        identity = nullptr;
        thread.reset();
        runable = nullptr;
        throwThread(rc, "Cannot create new thread.", -1);
    }
    {
        std::unique_lock<std::mutex> guard(ctl->lock);
        ctl->changed.wait(guard, [&] { return ctl->published; });
        threadId = (uint32_t)ctl->tid;
    }
    r->started = true;
    setPriority(priority);
    return true;
}

void WThread::setPriority(Priority p)
{
    if (isActive() && thread) {
        std::lock_guard<std::mutex> guard(thread->lock);
        if (!thread->ended) {
            int e = applyPriority(thread->tid, p);
            if (e != 0) throwThread(e, "Cannot set the priority of thread.", -2);
        }
        thread->priority = p;
    }
    priority = p;
}

bool WThread::join(unsigned long milliseconds)
{
    if (!thread) return false;
    WThreadControl* ctl = thread.get();
    WThreadControl* self = t_self;
    if (self == ctl) return false; // a thread never sees its own end

    if (WThreadKill::checkPoint()) return false;
    bool killed = false;
    bool ended;
    {
        WThreadKill::ConditionWait registration(ctl->lock, ctl->changed);
        std::unique_lock<std::mutex> guard(ctl->lock);
        auto done = [&] {
            killed = self != nullptr && self->killRequested.load();
            return ctl->ended || killed;
        };
        if (isUnlimited(milliseconds))
            ctl->changed.wait(guard, done);
        else
            ctl->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), done);
        ended = ctl->ended;
    }
    if (!ended && killed) WThreadKill::end();
    return ended;
}

bool WThread::kill()
{
    if (!isActive() || !thread) return false;
    std::shared_ptr<WThreadControl> ctl = thread;
    ctl->requestKill();
    if (ctl.get() == t_self) return true; // ends at its own next wait

    bool ended;
    {
        std::unique_lock<std::mutex> guard(ctl->lock);
        ended = ctl->changed.wait_for(guard, std::chrono::milliseconds(KILL_WAIT_MS), [&] { return ctl->ended; });
        if (!ended && !ctl->released) {
            ctl->released = true;
            pthread_detach(ctl->handle);
        }
    }
    if (ended) {
        close();
    } else {
        // Still inside run(): the record keeps the runable so that isActive()
        // stays true, and start() refuses, until run() has returned.
        priority = PRIORITY_NORMAL;
    }
    return true;
}

bool WThread::isActive() const
{
    return runable != nullptr && runable->active.load() != 0;
}

void WThread::suspend()
{
    if (thread) thread->suspendCount.fetch_add(1);
}

void WThread::resume()
{
    if (!thread) return;
    std::lock_guard<std::mutex> guard(thread->lock);
    if (thread->suspendCount.load() > 0) thread->suspendCount.fetch_sub(1);
    thread->changed.notify_all();
}

bool WThread::wait(unsigned long milliseconds)
{
    if (!thread) return false;
    if ((long)milliseconds < 1 || isUnlimited(milliseconds)) return thread->companion.wait(0);
    if (milliseconds > INT_MAX) milliseconds = INT_MAX;
    return thread->companion.wait((int)milliseconds);
}

void WThread::signal()
{
    if (thread) thread->companion.signal();
}

unsigned long WThread::currentThreadId()
{
    return (unsigned long)gettid();
}

bool WThread::isCurrent() const
{
    return t_self != nullptr && identity.load() == t_self;
}
