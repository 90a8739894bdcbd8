// Messages of windows: sending (across threads too), posting, the program's
// loop, dispatching and the default window procedure.

#include <algorithm>
#include <cstring>

#include "internal/Core.h"
#include "internal/Queue.h"
#include "internal/WindowTable.h"

namespace {

thread_local DWORD t_lastError = 0;

} // namespace

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
    if (w->owner == self) return callProc(w->proc, window, message, wParam, lParam);
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
    bool answered = awaitAnswer(self, s, [&] {
        // The owner may have destroyed the window and gone on.
        if (isWindow(window)) return false;
        std::lock_guard<std::mutex> guard(w->owner->lock);
        auto it = std::find(w->owner->sent.begin(), w->owner->sent.end(), &s);
        if (it == w->owner->sent.end()) return false;
        w->owner->sent.erase(it);
        return true;
    });
    if (!answered) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // Answered by the thread, or given up when the thread ended.
    std::lock_guard<std::mutex> guard(self->lock);
    if (!s.answered) setLastError(ERROR_INVALID_WINDOW_HANDLE);
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
        if (!w) return false;
        q = w->owner;
    }
    {
        std::lock_guard<std::mutex> guard(q->lock);
        q->posted.push_back(MSG {window, message, wParam, lParam, tickCount(), POINT {0, 0}});
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
        if (nextMessage(q, msg, filter, true, wait)) return msg.message != WM_QUIT;
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
    if (msg.message != WM_KEYDOWN) return false;
    uint32_t c = (uint32_t)((uint64_t)msg.lParam >> 32);
    if (c == 0) return false;
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
    if (virtualKey < 0 || virtualKey >= 256) return 0;
    return currentQueue()->keys[virtualKey] ? (short)0x8000 : (short)0;
}

LRESULT dispatchMessage(const MSG& msg)
{
    auto w = findWindow(msg.hwnd);
    if (!w) return 0;
    if (msg.message == WM_TIMER && msg.lParam != 0)
        return callProc((WNDPROC)msg.lParam, msg.hwnd, WM_TIMER, msg.wParam, (LPARAM)msg.time);
    LRESULT r = callProc(w->proc, msg.hwnd, msg.message, msg.wParam, msg.lParam);
    if (msg.message == WM_PAINT) {
        // A procedure that did not paint must not get WM_PAINT forever.
        auto again = findWindow(msg.hwnd);
        if (again && !again->painting) again->invalid.clear();
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

bool runOnWindowThread(HWND window, void (*work)(void*), void* context)
{
    auto w = findWindow(window);
    if (!w) return false;
    return callOnThread(w->owner, work, context);
}

LRESULT defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto w = findWindow(window);
    if (!w) return 0;
    switch (message) {
    case WM_NCCREATE:
        return 1;
    case WM_SETTEXT:
        w->text = lParam != 0 ? (const char*)lParam : "";
        if (w->view && (w->style & WS_CHILD) == 0) w->view->setTitle(w->text);
        return 1;
    case WM_GETTEXTLENGTH:
        return (LRESULT)w->text.size();
    case WM_GETTEXT: {
        if (wParam == 0 || lParam == 0) return 0;
        size_t n = std::min((size_t)wParam - 1, w->text.size());
        memcpy((char*)lParam, w->text.data(), n);
        ((char*)lParam)[n] = '\0';
        return (LRESULT)n;
    }
    case WM_SETFONT:
        w->font = (HFONT)wParam;
        if (lParam != 0) invalidateRect(window, nullptr, true);
        return 0;
    case WM_GETFONT:
        return (LRESULT)w->font;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        beginPaint(window, ps);
        endPaint(window, ps);
        return 0;
    }
    case WM_NCPAINT: {
        // Of the frame only the corner between the window's own two bars is ours.
        RECT box = sizeBoxRect(*w);
        if (rectEmpty(box)) return 0;
        backingImage(*w).fillRect(
            box.left, box.top, box.right, box.bottom, rgbFromColorRef(getSysColor(COLOR_BTNFACE)));
        if (w->view) w->view->present(box);
        return 0;
    }
    case WM_ERASEBKGND: {
        if (w->cls->background == nullptr) return 0;
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
        if (LOWORD((uintptr_t)lParam) == HTCLIENT && w->cls->cursor != nullptr) setCursor(w->cls->cursor);
        return 0;
    case WM_SETICON: {
        HICON& slot = wParam == ICON_SMALL ? w->smallIcon : w->icon;
        HICON old = slot;
        slot = (HICON)lParam;
        if (w->view && (w->style & WS_CHILD) == 0) w->view->setIcon(w->icon != nullptr ? w->icon : w->smallIcon);
        return (LRESULT)old;
    }
    case WM_GETICON:
        return (LRESULT)(wParam == ICON_SMALL ? w->smallIcon : w->icon);
    case WM_QUERYENDSESSION:
        return 1;
    case WM_MOUSEWHEEL:
        if ((w->style & WS_CHILD) != 0 && w->parent != nullptr) return sendMessage(w->parent, message, wParam, lParam);
        return 0;
    default:
        return 0;
    }
}

} // namespace wplat
