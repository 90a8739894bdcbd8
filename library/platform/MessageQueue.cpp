// The message queues of threads: posted messages, messages and calls sent
// across threads (serviced in every wait, before posted ones), what the
// substrate's views report, and the end of a thread.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unistd.h>

#include "internal/Core.h"
#include "internal/Gdi.h"
#include "internal/Queue.h"
#include "internal/WindowTable.h"

namespace wplat::detail {

namespace {

// Never destroyed: static destructors may still post or destroy windows.
std::mutex& g_queuesLock = *new std::mutex;
std::map<std::thread::id, std::shared_ptr<ThreadQueue>>& g_queues
    = *new std::map<std::thread::id, std::shared_ptr<ThreadQueue>>;
std::shared_ptr<ThreadQueue>& g_uiQueue = *new std::shared_ptr<ThreadQueue>;
std::atomic<Backend*> g_backend {nullptr};
thread_local std::shared_ptr<ThreadQueue> t_queue;

} // namespace

DWORD tickCount()
{
    return (DWORD)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

bool onUi(const std::shared_ptr<ThreadQueue>& q)
{
    return g_backend.load() != nullptr && q == g_uiQueue;
}

// Wakes the thread that owns the queue (coalesced for the substrate).
void wakeQueue(const std::shared_ptr<ThreadQueue>& q)
{
    bool wakeBackend = false;
    {
        std::lock_guard<std::mutex> guard(q->lock);
        if (onUi(q) && !q->wakePending) {
            q->wakePending = true;
            wakeBackend = true;
        }
    }
    q->signal.notify_all();
    if (wakeBackend) g_backend.load()->wake();
}

namespace {

// Runs the work other threads handed over without waiting.
void serviceCalls(const std::shared_ptr<ThreadQueue>& q)
{
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> guard(q->lock);
            if (q->calls.empty()) return;
            work = std::move(q->calls.front());
            q->calls.pop_front();
        }
        try {
            work();
        } catch (...) {
        }
    }
}
} // namespace

// Runs the sent messages queued for this thread.
void serviceSent(const std::shared_ptr<ThreadQueue>& q)
{
    serviceCalls(q);
    for (;;) {
        SentMessage* s;
        {
            std::lock_guard<std::mutex> guard(q->lock);
            if (q->sent.empty()) return;
            s = q->sent.front();
            q->sent.pop_front();
        }
        q->receivingSend++;
        LRESULT result = 0;
        if (s->work != nullptr) {
            try {
                s->work(s->context);
            } catch (...) {
            }
        } else {
            auto w = findWindow(s->window);
            if (w) result = callProc(w->proc, s->window, s->message, s->wParam, s->lParam);
        }
        q->receivingSend--;
        auto sender = s->sender;
        {
            std::lock_guard<std::mutex> guard(sender->lock);
            s->result = result;
            s->answered = true;
            s->done = true;
        }
        wakeQueue(sender);
    }
}

namespace {

bool matches(const MSG& m, HWND filter)
{
    return filter == nullptr || m.hwnd == filter || isChild(filter, m.hwnd);
}

// A window of this thread that needs painting.
HWND windowToPaint(const std::shared_ptr<ThreadQueue>& q, HWND filter)
{
    for (const auto& w : allWindows()) {
        if (w->owner == q && !w->invalid.empty() && !w->destroying
            && (filter == nullptr || w->handle == filter || isChild(filter, w->handle)))
            return w->handle;
    }
    return nullptr;
}

// Takes a due timer (rescheduling it); false when none is due. `wait`
// receives the time to the next one (-1 without timers).
bool dueTimer(const std::shared_ptr<ThreadQueue>& q, HWND filter, MSG& msg, int& wait)
{
    std::lock_guard<std::mutex> guard(q->lock);
    wait = -1;
    auto now = Clock::now();
    for (Timer& t : q->timers) {
        if (filter != nullptr && t.window != filter) continue;
        if (t.due <= now) {
            msg = MSG {t.window, WM_TIMER, t.id, 0, tickCount(), POINT {0, 0}};
            t.due = now + t.interval;
            wait = 0;
            return true;
        }
        int ms = (int)std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count() + 1;
        wait = wait < 0 ? ms : std::min(wait, ms);
    }
    return false;
}
} // namespace

// The next message without waiting: sent ones are serviced on the way.
bool nextMessage(const std::shared_ptr<ThreadQueue>& q, MSG& msg, HWND filter, bool remove, int& wait)
{
    serviceSent(q);
    {
        std::lock_guard<std::mutex> guard(q->lock);
        for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
            if (matches(*it, filter) || it->message == WM_QUIT) {
                msg = *it;
                if (remove) {
                    q->posted.erase(it);
                    if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && msg.wParam < 256)
                        q->keys[msg.wParam] = msg.message == WM_KEYDOWN;
                }
                return true;
            }
        }
        if (q->quit) {
            msg = MSG {nullptr, WM_QUIT, (WPARAM)q->quitCode, 0, tickCount(), POINT {0, 0}};
            if (remove) q->quit = false;
            return true;
        }
    }
    HWND paint = windowToPaint(q, filter);
    if (paint != nullptr) {
        msg = MSG {paint, WM_PAINT, 0, 0, tickCount(), POINT {0, 0}};
        wait = 0;
        return true;
    }
    return dueTimer(q, filter, msg, wait);
}

void scheduleTimers(const std::shared_ptr<ThreadQueue>& q)
{
    if (!onUi(q)) return;
    MSG unused;
    int wait = -1;
    // Peek at the next due time without taking a timer.
    {
        std::lock_guard<std::mutex> guard(q->lock);
        auto now = Clock::now();
        for (const Timer& t : q->timers) {
            int ms = t.due <= now ? 0
                                  : (int)std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count() + 1;
            wait = wait < 0 ? ms : std::min(wait, ms);
        }
    }
    (void)unused;
    g_backend.load()->scheduleService(wait);
}

void waitForWork(const std::shared_ptr<ThreadQueue>& q, int timeoutMs)
{
    if (onUi(q)) {
        {
            std::lock_guard<std::mutex> guard(q->lock);
            if (!q->sent.empty() || !q->calls.empty() || !q->posted.empty() || q->quit) return;
        }
        q->waiting = true;
        g_backend.load()->wait(timeoutMs);
        q->waiting = false;
        {
            std::lock_guard<std::mutex> guard(q->lock);
            q->wakePending = false;
        }
        // Should a handler now enter a modal loop of the substrate, the
        // timers keep ticking there.
        scheduleTimers(q);
        return;
    }
    std::unique_lock<std::mutex> guard(q->lock);
    auto ready
        = [&] { return !q->sent.empty() || !q->calls.empty() || !q->posted.empty() || q->quit || q->wakePending; };
    if (timeoutMs < 0)
        q->signal.wait(guard, ready);
    else
        q->signal.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready);
    q->wakePending = false;
}

namespace {

// Destroys the windows of an ending thread (top-levels and the children
// with them) and answers what is still sent to it.
void endThread(const std::shared_ptr<ThreadQueue>& q)
{
    for (const auto& w : allWindows()) {
        if (w->owner != q || w->destroying) continue;
        if ((w->style & WS_CHILD) != 0 && w->parent != nullptr) {
            auto p = findWindow(w->parent);
            if (p && p->owner == q) continue; // goes with its parent
        }
        destroyWindow(w->handle);
    }
    std::deque<SentMessage*> unanswered;
    {
        std::lock_guard<std::mutex> guard(q->lock);
        q->ended = true;
        unanswered.swap(q->sent);
        q->calls.clear();
        q->timers.clear();
    }
    for (SentMessage* s : unanswered) {
        auto sender = s->sender;
        {
            std::lock_guard<std::mutex> guard(sender->lock);
            s->result = 0;
            s->done = true;
        }
        wakeQueue(sender);
    }
}
} // namespace

Backend* backend()
{
    return g_backend.load();
}

void setBackend(Backend* b)
{
    auto queue = b != nullptr ? currentQueue() : nullptr;
    {
        std::lock_guard<std::mutex> guard(g_queuesLock);
        g_uiQueue = queue;
    }
    g_backend.store(b);
}

std::shared_ptr<ThreadQueue> currentQueue()
{
    if (t_queue) return t_queue;
    auto q = std::make_shared<ThreadQueue>();
    q->thread = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> guard(g_queuesLock);
        // A thread id may be reused after a thread ended: the new thread gets a new queue.
        g_queues[q->thread] = q;
    }
    t_queue = q;
    // When the thread ends its windows go, as the platform's do, and
    // whoever still waits for an answer from it stops waiting.
    struct Release {
        ~Release()
        {
            if (!t_queue) return;
            // The main thread ends with the process: its windows stay for the
            // static destructors of their owners.
            if (gettid() != getpid()) endThread(t_queue);
            std::lock_guard<std::mutex> guard(g_queuesLock);
            auto it = g_queues.find(t_queue->thread);
            if (it != g_queues.end() && it->second == t_queue) g_queues.erase(it);
        }
    };
    thread_local Release release;
    (void)release;
    return q;
}

std::shared_ptr<ThreadQueue> uiQueue()
{
    std::lock_guard<std::mutex> guard(g_queuesLock);
    return g_uiQueue;
}

void serviceQueue(bool all)
{
    auto q = currentQueue();
    serviceSent(q);
    if (!all) return;
    // Like the platform's modal loops: posted messages, paints and timers
    // are dispatched; the quit message stays for the program's loop.
    for (int guard = 0; guard < 10000; guard++) {
        MSG msg;
        {
            std::lock_guard<std::mutex> lock(q->lock);
            auto it
                = std::find_if(q->posted.begin(), q->posted.end(), [](const MSG& m) { return m.message != WM_QUIT; });
            if (it == q->posted.end()) break;
            msg = *it;
            q->posted.erase(it);
        }
        translateMessage(msg);
        dispatchMessage(msg);
        serviceSent(q);
    }
    for (int guard = 0; guard < 100; guard++) {
        HWND paint = windowToPaint(q, nullptr);
        if (paint == nullptr) break;
        sendMessage(paint, WM_PAINT, 0, 0);
    }
    MSG msg;
    int wait;
    for (int guard = 0; guard < 100 && dueTimer(q, nullptr, msg, wait); guard++)
        dispatchMessage(msg);
    scheduleTimers(q);
}

DispatchScope::DispatchScope()
{
    auto q = currentQueue();
    saved = q->waiting;
    q->waiting = false;
}

DispatchScope::~DispatchScope()
{
    currentQueue()->waiting = saved;
}

void postFront(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto w = findWindow(window);
    if (!w) return;
    {
        std::lock_guard<std::mutex> guard(w->owner->lock);
        w->owner->posted.push_front(MSG {window, message, wParam, lParam, tickCount(), POINT {0, 0}});
    }
    wakeQueue(w->owner);
}

void postInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    postMessage(window, message, wParam, lParam);
}

void viewGeometryChanged(HWND window, int x, int y, int width, int height)
{
    auto w = findWindow(window);
    if (!w) return;
    DispatchScope scope;
    bool sized = width != w->width || height != w->height;
    bool moved = x != w->x || y != w->y;
    w->x = x;
    w->y = y;
    w->width = std::max(width, 0);
    w->height = std::max(height, 0);
    if (sized) {
        if (w->showState != SW_SHOWMINIMIZED)
            sendMessage(window, WM_SIZE, w->showState == SW_SHOWMAXIMIZED ? SIZE_MAXIMIZED : SIZE_RESTORED,
                clientSizeParam(*w));
        w->frameDirty = true;
        invalidateRect(window, nullptr, true);
    }
    if (moved) sendMessage(window, WM_MOVE, 0, MAKELPARAM(w->x, w->y));
}

void viewCloseRequested(HWND window)
{
    DispatchScope scope;
    sendMessage(window, WM_CLOSE, 0, 0);
}

void viewFocusChanged(HWND window, bool in)
{
    DispatchScope scope;
    auto q = currentQueue();
    if (in && q->focus != window && isWindow(window)) setFocus(window);
}

void viewMouseLeft(HWND window)
{
    auto w = findWindow(window);
    if (w && w->trackLeave) {
        w->trackLeave = false;
        postMessage(window, WM_MOUSELEAVE, 0, 0);
    }
}

bool callOnThread(const std::shared_ptr<ThreadQueue>& q, void (*work)(void*), void* context)
{
    auto self = currentQueue();
    if (q == self) {
        work(context);
        return true;
    }
    SentMessage s;
    s.work = work;
    s.context = context;
    s.sender = self;
    {
        std::lock_guard<std::mutex> guard(q->lock);
        if (q->ended) return false;
        q->sent.push_back(&s);
    }
    wakeQueue(q);
    awaitAnswer(self, s);
    std::lock_guard<std::mutex> guard(self->lock);
    return s.answered;
}

bool awaitAnswer(
    const std::shared_ptr<ThreadQueue>& self, const SentMessage& message, const std::function<bool()>& giveUp)
{
    for (;;) {
        serviceSent(self);
        {
            std::unique_lock<std::mutex> guard(self->lock);
            if (message.done) return true;
            if (!self->sent.empty() || !self->calls.empty()) continue;
            self->signal.wait_for(guard, std::chrono::milliseconds(50),
                [&] { return message.done || !self->sent.empty() || !self->calls.empty(); });
            if (message.done) return true;
        }
        if (giveUp && giveUp()) return false;
    }
}

void postToThread(const std::shared_ptr<ThreadQueue>& q, std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> guard(q->lock);
        if (q->ended) return;
        q->calls.push_back(std::move(work));
    }
    wakeQueue(q);
}

void viewStateChanged(HWND window, int showState)
{
    auto w = findWindow(window);
    if (!w || w->showState == showState) return;
    DispatchScope scope;
    if (showState == SW_SHOWMINIMIZED) w->restoreState = w->showState;
    w->showState = showState;
    w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
    if (showState == SW_SHOWMINIMIZED) {
        w->style |= WS_MINIMIZE;
        sendMessage(window, WM_SIZE, SIZE_MINIMIZED, 0);
        return;
    }
    if (showState == SW_SHOWMAXIMIZED) w->style |= WS_MAXIMIZE;
    sendMessage(window, WM_SIZE, showState == SW_SHOWMAXIMIZED ? SIZE_MAXIMIZED : SIZE_RESTORED, clientSizeParam(*w));
    w->frameDirty = true;
    invalidateRect(window, nullptr, true);
}

void viewPointerOver(HWND window, UINT mouseMessage)
{
    if (!isWindow(window)) return;
    DispatchScope scope;
    sendMessage(window, WM_SETCURSOR, (WPARAM)window, MAKELPARAM(HTCLIENT, mouseMessage));
}

PixelImage& backingImage(Window& w)
{
    int width = std::max(w.width, 1);
    int height = std::max(w.height, 1);
    if (w.backing.width() != width || w.backing.height() != height) {
        PixelImage resized(width, height, 0xFFFFFF);
        for (int y = 0; y < std::min(height, w.backing.height()); y++)
            for (int x = 0; x < std::min(width, w.backing.width()); x++)
                resized.setPixel(x, y, w.backing.pixel(x, y));
        w.backing = std::move(resized);
    }
    return w.backing;
}

} // namespace wplat::detail
