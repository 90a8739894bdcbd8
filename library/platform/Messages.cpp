// Message queues of the user-interface threads: posted messages, messages
// sent across threads (serviced in every wait, before posted ones), timers,
// painting and the default window procedure.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unistd.h>

#include "internal/Core.h"
#include "internal/Gdi.h"
#include "internal/WindowTable.h"

namespace wplat::detail {

namespace {

using Clock = std::chrono::steady_clock;

// Never destroyed: static destructors may still post or destroy windows.
std::mutex& g_queuesLock = *new std::mutex;
std::map<std::thread::id, std::shared_ptr<ThreadQueue>>& g_queues = *new std::map<std::thread::id, std::shared_ptr<ThreadQueue>>;
std::shared_ptr<ThreadQueue>& g_uiQueue = *new std::shared_ptr<ThreadQueue>;
std::atomic<Backend*> g_backend{nullptr};
thread_local std::shared_ptr<ThreadQueue> t_queue;
thread_local DWORD t_lastError = 0;

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
    if (wakeBackend)
        g_backend.load()->wake();
}

// Runs the work other threads handed over without waiting.
void serviceCalls(const std::shared_ptr<ThreadQueue>& q)
{
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> guard(q->lock);
            if (q->calls.empty())
                return;
            work = std::move(q->calls.front());
            q->calls.pop_front();
        }
        try {
            work();
        } catch (...) {
        }
    }
}

// Runs the sent messages queued for this thread.
void serviceSent(const std::shared_ptr<ThreadQueue>& q)
{
    serviceCalls(q);
    for (;;) {
        SentMessage* s;
        {
            std::lock_guard<std::mutex> guard(q->lock);
            if (q->sent.empty())
                return;
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
            if (w)
                result = callProc(w->proc, s->window, s->message, s->wParam, s->lParam);
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

bool matches(const MSG& m, HWND filter)
{
    return filter == nullptr || m.hwnd == filter || isChild(filter, m.hwnd);
}

// A window of this thread that needs painting.
HWND windowToPaint(const std::shared_ptr<ThreadQueue>& q, HWND filter)
{
    for (const auto& w : allWindows()) {
        if (w->owner == q && !w->invalid.empty() && !w->destroying && (filter == nullptr || w->handle == filter ||
                                                                     isChild(filter, w->handle)))
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
        if (filter != nullptr && t.window != filter)
            continue;
        if (t.due <= now) {
            msg = MSG{t.window, WM_TIMER, t.id, 0, tickCount(), POINT{0, 0}};
            t.due = now + t.interval;
            wait = 0;
            return true;
        }
        int ms = (int)std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count() + 1;
        wait = wait < 0 ? ms : std::min(wait, ms);
    }
    return false;
}

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
            msg = MSG{nullptr, WM_QUIT, (WPARAM)q->quitCode, 0, tickCount(), POINT{0, 0}};
            if (remove)
                q->quit = false;
            return true;
        }
    }
    HWND paint = windowToPaint(q, filter);
    if (paint != nullptr) {
        msg = MSG{paint, WM_PAINT, 0, 0, tickCount(), POINT{0, 0}};
        wait = 0;
        return true;
    }
    return dueTimer(q, filter, msg, wait);
}

void scheduleTimers(const std::shared_ptr<ThreadQueue>& q)
{
    if (!onUi(q))
        return;
    MSG unused;
    int wait = -1;
    // Peek at the next due time without taking a timer.
    {
        std::lock_guard<std::mutex> guard(q->lock);
        auto now = Clock::now();
        for (const Timer& t : q->timers) {
            int ms = t.due <= now ? 0 : (int)std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count() + 1;
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
            if (!q->sent.empty() || !q->calls.empty() || !q->posted.empty() || q->quit)
                return;
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
    auto ready = [&] {
        return !q->sent.empty() || !q->calls.empty() || !q->posted.empty() || q->quit || q->wakePending;
    };
    if (timeoutMs < 0)
        q->signal.wait(guard, ready);
    else
        q->signal.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready);
    q->wakePending = false;
}

// Destroys the windows of an ending thread (top-levels and the children
// with them) and answers what is still sent to it.
void endThread(const std::shared_ptr<ThreadQueue>& q)
{
    for (const auto& w : allWindows()) {
        if (w->owner != q || w->destroying)
            continue;
        if ((w->style & WS_CHILD) != 0 && w->parent != nullptr) {
            auto p = findWindow(w->parent);
            if (p && p->owner == q)
                continue;  // goes with its parent
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
    if (t_queue)
        return t_queue;
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
            if (!t_queue)
                return;
            // The main thread ends with the process: its windows stay for the
            // static destructors of their owners.
            if (gettid() != getpid())
                endThread(t_queue);
            std::lock_guard<std::mutex> guard(g_queuesLock);
            auto it = g_queues.find(t_queue->thread);
            if (it != g_queues.end() && it->second == t_queue)
                g_queues.erase(it);
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
    if (!all)
        return;
    // Like the platform's modal loops: posted messages, paints and timers
    // are dispatched; the quit message stays for the program's loop.
    for (int guard = 0; guard < 10000; guard++) {
        MSG msg;
        {
            std::lock_guard<std::mutex> lock(q->lock);
            auto it = std::find_if(q->posted.begin(), q->posted.end(), [](const MSG& m) { return m.message != WM_QUIT; });
            if (it == q->posted.end())
                break;
            msg = *it;
            q->posted.erase(it);
        }
        translateMessage(msg);
        dispatchMessage(msg);
        serviceSent(q);
    }
    for (int guard = 0; guard < 100; guard++) {
        HWND paint = windowToPaint(q, nullptr);
        if (paint == nullptr)
            break;
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
    if (!w)
        return;
    {
        std::lock_guard<std::mutex> guard(w->owner->lock);
        w->owner->posted.push_front(MSG{window, message, wParam, lParam, tickCount(), POINT{0, 0}});
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
    if (!w)
        return;
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
                        MAKELPARAM(w->width, w->height));
        w->frameDirty = true;
        invalidateRect(window, nullptr, true);
    }
    if (moved)
        sendMessage(window, WM_MOVE, 0, MAKELPARAM(w->x, w->y));
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
    if (in && q->focus != window && isWindow(window))
        setFocus(window);
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
        if (q->ended)
            return false;
        q->sent.push_back(&s);
    }
    wakeQueue(q);
    for (;;) {
        serviceSent(self);
        std::unique_lock<std::mutex> guard(self->lock);
        if (s.done)
            break;
        if (!self->sent.empty() || !self->calls.empty())
            continue;
        self->signal.wait_for(guard, std::chrono::milliseconds(50),
                              [&] { return s.done || !self->sent.empty() || !self->calls.empty(); });
        if (s.done)
            break;
    }
    std::lock_guard<std::mutex> guard(self->lock);
    return s.answered;
}

void postToThread(const std::shared_ptr<ThreadQueue>& q, std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> guard(q->lock);
        if (q->ended)
            return;
        q->calls.push_back(std::move(work));
    }
    wakeQueue(q);
}

void viewStateChanged(HWND window, int showState)
{
    auto w = findWindow(window);
    if (!w || w->showState == showState)
        return;
    DispatchScope scope;
    if (showState == SW_SHOWMINIMIZED)
        w->restoreState = w->showState;
    w->showState = showState;
    w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
    if (showState == SW_SHOWMINIMIZED) {
        w->style |= WS_MINIMIZE;
        sendMessage(window, WM_SIZE, SIZE_MINIMIZED, 0);
        return;
    }
    if (showState == SW_SHOWMAXIMIZED)
        w->style |= WS_MAXIMIZE;
    sendMessage(window, WM_SIZE, showState == SW_SHOWMAXIMIZED ? SIZE_MAXIMIZED : SIZE_RESTORED,
                MAKELPARAM(w->width, w->height));
    w->frameDirty = true;
    invalidateRect(window, nullptr, true);
}

void viewPointerOver(HWND window, UINT mouseMessage)
{
    if (!isWindow(window))
        return;
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

namespace wplat {

using namespace detail;

LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto w = findWindow(window);
    if (!w) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    auto self = currentQueue();
    if (w->owner == self)
        return callProc(w->proc, window, message, wParam, lParam);
    SentMessage s;
    s.window = window;
    s.message = message;
    s.wParam = wParam;
    s.lParam = lParam;
    s.sender = self;
    {
        std::lock_guard<std::mutex> guard(w->owner->lock);
        if (w->owner->ended) {
            setLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        w->owner->sent.push_back(&s);
    }
    wakeQueue(w->owner);
    // Wait for the answer, servicing what others send to us meanwhile.
    for (;;) {
        serviceSent(self);
        {
            std::unique_lock<std::mutex> guard(self->lock);
            if (s.done)
                break;
            if (!self->sent.empty() || !self->calls.empty())
                continue;
            self->signal.wait_for(guard, std::chrono::milliseconds(50),
                                  [&] { return s.done || !self->sent.empty() || !self->calls.empty(); });
            if (s.done)
                break;
        }
        // The owner may have destroyed the window and gone on.
        if (!isWindow(window)) {
            std::lock_guard<std::mutex> guard(w->owner->lock);
            auto it = std::find(w->owner->sent.begin(), w->owner->sent.end(), &s);
            if (it != w->owner->sent.end()) {
                w->owner->sent.erase(it);
                setLastError(ERROR_INVALID_WINDOW_HANDLE);
                return 0;
            }
        }
    }
    // Answered by the thread, or given up when the thread ended.
    std::lock_guard<std::mutex> guard(self->lock);
    if (!s.answered)
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return s.result;
}

DWORD getLastError()
{
    return t_lastError;
}

void setLastError(DWORD code)
{
    t_lastError = code;
}

bool postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<ThreadQueue> q;
    if (window == nullptr) {
        q = currentQueue();
    } else {
        auto w = findWindow(window);
        if (!w)
            return false;
        q = w->owner;
    }
    {
        std::lock_guard<std::mutex> guard(q->lock);
        q->posted.push_back(MSG{window, message, wParam, lParam, tickCount(), POINT{0, 0}});
    }
    wakeQueue(q);
    return true;
}

void postQuitMessage(int code)
{
    auto q = currentQueue();
    {
        std::lock_guard<std::mutex> guard(q->lock);
        q->quit = true;
        q->quitCode = code;
    }
    wakeQueue(q);
}

bool getMessage(MSG& msg, HWND filter)
{
    auto q = currentQueue();
    for (;;) {
        int wait = -1;
        if (nextMessage(q, msg, filter, true, wait))
            return msg.message != WM_QUIT;
        waitForWork(q, wait);
    }
}

bool peekMessage(MSG& msg, HWND filter, Peek mode)
{
    auto q = currentQueue();
    int wait = -1;
    if (onUi(q)) {
        q->waiting = true;
        backend()->wait(0);
        q->waiting = false;
    }
    return nextMessage(q, msg, filter, mode == Peek::Remove, wait);
}

bool translateMessage(const MSG& msg)
{
    // A key press carries its character (a code point) in the high half of
    // lParam; it becomes WM_CHAR messages, one per UTF-8 byte, next in line.
    if (msg.message != WM_KEYDOWN)
        return false;
    uint32_t c = (uint32_t)((uint64_t)msg.lParam >> 32);
    if (c == 0)
        return false;
    unsigned char bytes[4];
    int n;
    if (c < 0x80) {
        bytes[0] = (unsigned char)c;
        n = 1;
    } else if (c < 0x800) {
        bytes[0] = (unsigned char)(0xC0 | (c >> 6));
        bytes[1] = (unsigned char)(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        bytes[0] = (unsigned char)(0xE0 | (c >> 12));
        bytes[1] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = (unsigned char)(0x80 | (c & 0x3F));
        n = 3;
    } else {
        bytes[0] = (unsigned char)(0xF0 | (c >> 18));
        bytes[1] = (unsigned char)(0x80 | ((c >> 12) & 0x3F));
        bytes[2] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
        bytes[3] = (unsigned char)(0x80 | (c & 0x3F));
        n = 4;
    }
    for (int i = n - 1; i >= 0; i--)
        postFront(msg.hwnd, WM_CHAR, bytes[i], 1);
    return true;
}

short getKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey >= 256)
        return 0;
    return currentQueue()->keys[virtualKey] ? (short)0x8000 : (short)0;
}

LRESULT dispatchMessage(const MSG& msg)
{
    auto w = findWindow(msg.hwnd);
    if (!w)
        return 0;
    if (msg.message == WM_TIMER && msg.lParam != 0)
        return callProc((WNDPROC)msg.lParam, msg.hwnd, WM_TIMER, msg.wParam, (LPARAM)msg.time);
    LRESULT r = callProc(w->proc, msg.hwnd, msg.message, msg.wParam, msg.lParam);
    if (msg.message == WM_PAINT) {
        // A procedure that did not paint must not get WM_PAINT forever.
        auto again = findWindow(msg.hwnd);
        if (again && !again->painting)
            again->invalid.clear();
    }
    return r;
}

LRESULT callWindowProc(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return callProc(proc, window, message, wParam, lParam);
}

bool inSendMessage()
{
    return currentQueue()->receivingSend > 0;
}

void runOnUiThread(void (*work)(void*), void* context)
{
    auto ui = uiQueue();
    if (!ui) {
        work(context);
        return;
    }
    callOnThread(ui, work, context);
}

LRESULT defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto w = findWindow(window);
    if (!w)
        return 0;
    switch (message) {
    case WM_NCCREATE:
        return 1;
    case WM_SETTEXT:
        w->text = lParam != 0 ? (const char*)lParam : "";
        if (w->view && (w->style & WS_CHILD) == 0)
            w->view->setTitle(w->text);
        return 1;
    case WM_GETTEXTLENGTH:
        return (LRESULT)w->text.size();
    case WM_GETTEXT: {
        if (wParam == 0 || lParam == 0)
            return 0;
        size_t n = std::min((size_t)wParam - 1, w->text.size());
        memcpy((char*)lParam, w->text.data(), n);
        ((char*)lParam)[n] = '\0';
        return (LRESULT)n;
    }
    case WM_SETFONT:
        w->font = (HFONT)wParam;
        if (lParam != 0)
            invalidateRect(window, nullptr, true);
        return 0;
    case WM_GETFONT:
        return (LRESULT)w->font;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        beginPaint(window, ps);
        endPaint(window, ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        if (w->cls->background == nullptr)
            return 0;
        RECT r = clientRect(*w);
        fillRect((HDC)wParam, r, w->cls->background);
        return 1;
    }
    case WM_CLOSE:
        destroyWindow(window);
        return 0;
    case WM_SETCURSOR:
        // The parent chooses first; the class cursor otherwise.
        if ((w->style & WS_CHILD) != 0 && w->parent != nullptr && sendMessage(w->parent, message, wParam, lParam) != 0)
            return 1;
        if (LOWORD((uintptr_t)lParam) == HTCLIENT && w->cls->cursor != nullptr)
            setCursor(w->cls->cursor);
        return 0;
    case WM_SETICON: {
        HICON& slot = wParam == ICON_SMALL ? w->smallIcon : w->icon;
        HICON old = slot;
        slot = (HICON)lParam;
        if (w->view && (w->style & WS_CHILD) == 0)
            w->view->setIcon(w->icon != nullptr ? w->icon : w->smallIcon);
        return (LRESULT)old;
    }
    case WM_GETICON:
        return (LRESULT)(wParam == ICON_SMALL ? w->smallIcon : w->icon);
    case WM_QUERYENDSESSION:
        return 1;
    case WM_MOUSEWHEEL:
        if ((w->style & WS_CHILD) != 0 && w->parent != nullptr)
            return sendMessage(w->parent, message, wParam, lParam);
        return 0;
    default:
        return 0;
    }
}

// --- Timers ----------------------------------------------------------------------

UINT_PTR setTimer(HWND window, UINT_PTR id, UINT milliseconds)
{
    std::shared_ptr<ThreadQueue> q;
    if (window != nullptr) {
        auto w = findWindow(window);
        if (!w)
            return 0;
        q = w->owner;
    } else {
        q = currentQueue();
    }
    auto interval = std::chrono::milliseconds(std::max<UINT>(milliseconds, 1));
    {
        std::lock_guard<std::mutex> guard(q->lock);
        auto it = std::find_if(q->timers.begin(), q->timers.end(),
                               [&](const Timer& t) { return t.window == window && t.id == id; });
        if (it != q->timers.end()) {
            it->interval = interval;
            it->due = Clock::now() + interval;
        } else {
            q->timers.push_back(Timer{window, id, interval, Clock::now() + interval});
        }
    }
    wakeQueue(q);
    if (q == currentQueue())
        scheduleTimers(q);
    return id == 0 && window == nullptr ? 1 : (id == 0 ? 1 : id);
}

bool killTimer(HWND window, UINT_PTR id)
{
    std::shared_ptr<ThreadQueue> q;
    auto w = findWindow(window);
    q = w ? w->owner : currentQueue();
    std::lock_guard<std::mutex> guard(q->lock);
    auto it = std::find_if(q->timers.begin(), q->timers.end(),
                           [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == q->timers.end())
        return false;
    q->timers.erase(it);
    return true;
}

// --- Mouse -----------------------------------------------------------------------

bool trackMouseEvent(HWND window, DWORD flags)
{
    auto w = findWindow(window);
    if (!w)
        return false;
    w->trackLeave = (flags & TME_LEAVE) != 0 && (flags & TME_CANCEL) == 0;
    return true;
}

bool getCursorPos(POINT& point)
{
    Backend* b = backend();
    if (b != nullptr && b->cursorPos(point))
        return true;
    point = POINT{0, 0};
    return false;
}

HWND setCapture(HWND window)
{
    auto q = currentQueue();
    HWND old = q->capture;
    q->capture = isWindow(window) ? window : nullptr;
    return old;
}

bool releaseCapture()
{
    currentQueue()->capture = nullptr;
    return true;
}

HCURSOR loadCursor(int id)
{
    switch (id) {
    case IDC_ARROW:
    case IDC_IBEAM:
    case IDC_WAIT:
    case IDC_SIZEWE:
    case IDC_HAND:
        return (HCURSOR)(uintptr_t)id;
    default:
        return nullptr;
    }
}

HCURSOR setCursor(HCURSOR cursor)
{
    static std::atomic<HCURSOR> current{(HCURSOR)(uintptr_t)IDC_ARROW};
    HCURSOR old = current.exchange(cursor);
    Backend* b = backend();
    if (b != nullptr && isUiThread())
        b->setCursorShape((int)(uintptr_t)cursor);
    return old;
}

// --- Painting ----------------------------------------------------------------------

bool invalidateRect(HWND window, const RECT* rect, bool erase)
{
    auto w = findWindow(window);
    if (!w)
        return false;
    if (w->owner != currentQueue()) {
        // The region belongs to the owner's thread; nobody waits for it.
        bool whole = rect == nullptr;
        RECT r = whole ? RECT{0, 0, 0, 0} : *rect;
        postToThread(w->owner, [window, whole, r, erase] { invalidateRect(window, whole ? nullptr : &r, erase); });
        return true;
    }
    RECT client = clientRect(*w);
    RECT r = rect != nullptr ? intersect(*rect, client) : client;
    if (!rectEmpty(r)) {
        w->invalid.add(r);
        if (erase)
            w->eraseNeeded = true;
        wakeQueue(w->owner);
    }
    return true;
}

bool validateRect(HWND window, const RECT* rect)
{
    auto w = findWindow(window);
    if (!w)
        return false;
    if (rect == nullptr) {
        w->invalid.clear();
        return true;
    }
    // Rectangles wholly inside the validated one go away.
    std::vector<RECT> keep;
    for (const RECT& r : w->invalid.rects) {
        if (!(r.left >= rect->left && r.top >= rect->top && r.right <= rect->right && r.bottom <= rect->bottom))
            keep.push_back(r);
    }
    w->invalid.rects.swap(keep);
    return true;
}

bool getUpdateRect(HWND window, RECT& rect)
{
    auto w = findWindow(window);
    if (!w)
        return false;
    rect = w->invalid.bounds();
    return !w->invalid.empty();
}

bool updateWindow(HWND window)
{
    auto w = findWindow(window);
    if (!w)
        return false;
    if (!w->invalid.empty())
        sendMessage(window, WM_PAINT, 0, 0);
    return true;
}

HDC beginPaint(HWND window, PAINTSTRUCT& paint)
{
    paint = PAINTSTRUCT{nullptr, false, RECT{0, 0, 0, 0}};
    auto w = findWindow(window);
    if (!w)
        return nullptr;
    if (w->frameDirty) {
        // The frame first, as the platform does before a client paint.
        w->frameDirty = false;
        sendMessage(window, WM_NCPAINT, 1, 0);
        w = findWindow(window);
        if (!w)
            return nullptr;
    }
    Region region = w->invalid;
    region.clipTo(clientRect(*w));
    w->invalid.clear();
    w->painting = true;
    HDC dc = createWindowDC(window, &backingImage(*w), POINT{0, 0}, region.rects, true);
    paint.hdc = dc;
    paint.rcPaint = region.bounds();
    if (w->eraseNeeded) {
        w->eraseNeeded = false;
        paint.fErase = sendMessage(window, WM_ERASEBKGND, (WPARAM)dc, 0) == 0;
    }
    return dc;
}

bool endPaint(HWND window, const PAINTSTRUCT& paint)
{
    auto w = findWindow(window);
    if (paint.hdc != nullptr)
        deleteDC(paint.hdc);
    if (!w)
        return false;
    w->painting = false;
    if (w->view && !rectEmpty(paint.rcPaint))
        w->view->present(paint.rcPaint);
    return true;
}

HDC getDC(HWND window)
{
    auto w = findWindow(window);
    if (!w)
        return nullptr;
    return createWindowDC(window, &backingImage(*w), POINT{0, 0}, std::vector<RECT>{clientRect(*w)}, false);
}

HDC getWindowDC(HWND window)
{
    // Frames are drawn by the substrate: the window's own area is its client area.
    return getDC(window);
}

int releaseDC(HWND window, HDC dc)
{
    if (dc == nullptr)
        return 0;
    deleteDC(dc);
    auto w = findWindow(window);
    if (w && w->view)
        w->view->present(clientRect(*w));
    return 1;
}

const PixelImage* getBackingImage(HWND window)
{
    auto w = findWindow(window);
    if (!w)
        return nullptr;
    return &backingImage(*w);
}

// --- Message boxes -------------------------------------------------------------------

namespace {
struct BoxCall {
    HWND owner;
    const char* text;
    const char* caption;
    UINT type;
    int result;
};
void runBox(void* context)
{
    auto* call = (BoxCall*)context;
    Backend* b = backend();
    call->result = b != nullptr ? b->messageBox(call->owner, call->text, call->caption, call->type) : 0;
}
} // namespace

int messageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    if (backend() == nullptr)
        return 0;
    BoxCall call{owner, text != nullptr ? text : "", caption != nullptr ? caption : "", type, 0};
    runOnUiThread(runBox, &call);
    return call.result;
}

} // namespace wplat
