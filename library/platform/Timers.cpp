// Timers, mouse capture and leave tracking, cursors.

#include <algorithm>
#include <atomic>

#include "internal/Core.h"
#include "internal/Queue.h"
#include "internal/WindowTable.h"

namespace wplat {

using namespace detail;

// --- Timers ----------------------------------------------------------------------

UINT_PTR setTimer(HWND window, UINT_PTR id, UINT milliseconds)
{
    std::shared_ptr<ThreadQueue> q;
    if (window != nullptr) {
        auto w = findWindow(window);
        if (!w) return 0;
        q = w->owner;
    } else {
        q = currentQueue();
    }
    auto interval = std::chrono::milliseconds(std::max<UINT>(milliseconds, 1));
    {
        std::lock_guard<std::mutex> guard(q->lock);
        auto it = std::find_if(
            q->timers.begin(), q->timers.end(), [&](const Timer& t) { return t.window == window && t.id == id; });
        if (it != q->timers.end()) {
            it->interval = interval;
            it->due = Clock::now() + interval;
        } else {
            q->timers.push_back(Timer {window, id, interval, Clock::now() + interval});
        }
    }
    wakeQueue(q);
    if (q == currentQueue()) scheduleTimers(q);
    return id == 0 && window == nullptr ? 1 : (id == 0 ? 1 : id);
}

bool killTimer(HWND window, UINT_PTR id)
{
    std::shared_ptr<ThreadQueue> q;
    auto w = findWindow(window);
    q = w ? w->owner : currentQueue();
    std::lock_guard<std::mutex> guard(q->lock);
    auto it = std::find_if(
        q->timers.begin(), q->timers.end(), [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == q->timers.end()) return false;
    q->timers.erase(it);
    return true;
}

// --- Mouse -----------------------------------------------------------------------

bool trackMouseEvent(HWND window, DWORD flags)
{
    auto w = findWindow(window);
    if (!w) return false;
    w->trackLeave = (flags & TME_LEAVE) != 0 && (flags & TME_CANCEL) == 0;
    return true;
}

bool getCursorPos(POINT& point)
{
    Backend* b = backend();
    if (b != nullptr && b->cursorPos(point)) return true;
    point = POINT {0, 0};
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
    static std::atomic<HCURSOR> current {(HCURSOR)(uintptr_t)IDC_ARROW};
    HCURSOR old = current.exchange(cursor);
    Backend* b = backend();
    if (b != nullptr && isUiThread()) b->setCursorShape((int)(uintptr_t)cursor);
    return old;
}

} // namespace wplat
