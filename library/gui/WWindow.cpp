#include "WWindow.h"

#include <memory>
#include <string>

#include "Platform.h"
#include "ProgramIcon.h"
#include "WException.h"
#include "WSystem.h"

namespace {

std::string g_className = "mirola2";

// The record a window keeps in its user data slot, or null. The slot owns
// it: records go in and out only through these two.
WWindow::WindowRecord* recordOf(HWND window)
{
    return (WWindow::WindowRecord*)wplat::getWindowLongPtr(window, GWLP_USERDATA);
}

// Takes the record out of the slot; it is freed when the result goes.
std::unique_ptr<WWindow::WindowRecord> takeRecord(HWND window)
{
    std::unique_ptr<WWindow::WindowRecord> record(recordOf(window));
    if (record) wplat::setWindowLongPtr(window, GWLP_USERDATA, 0);
    return record;
}

// Puts a new record into the slot, freeing the one it replaces.
WWindow::WindowRecord* putRecord(HWND window, std::unique_ptr<WWindow::WindowRecord> record)
{
    std::unique_ptr<WWindow::WindowRecord> old = takeRecord(window);
    WWindow::WindowRecord* kept = record.release();
    wplat::setWindowLongPtr(window, GWLP_USERDATA, (LONG_PTR)kept);
    return kept;
}

} // namespace

// --- WWindowContext ------------------------------------------------------------

bool WWindowContext::setFocusNextControl(WControl&, bool)
{
    return false;
}

bool WWindowContext::onControlKeyPressed(WControl&, int)
{
    return false;
}

bool WWindowContext::onControlMessage(WControl&, unsigned long, unsigned long, unsigned long)
{
    return false;
}

void WWindowContext::setExStyle(unsigned long bits, bool set)
{
    LONG_PTR style = wplat::getWindowLongPtr(window, GWL_EXSTYLE);
    if (set)
        style |= (LONG_PTR)bits;
    else
        style &= ~(LONG_PTR)bits;
    wplat::setWindowLongPtr(window, GWL_EXSTYLE, style);
}

void WWindowContext::setWindowPos(int x, int y, unsigned long width, unsigned long height, bool repaint)
{
    wplat::moveWindow(window, x, y, (int)width, (int)height, repaint);
}

void WWindowContext::resizeWindow(unsigned long width, unsigned long height, bool repaint)
{
    // The position stays where it is (in the parent's coordinates for a child).
    wplat::setWindowPos(window, nullptr, 0, 0, (int)width, (int)height,
        SWP_NOMOVE | SWP_NOZORDER | (repaint ? 0u : (UINT)SWP_NOREDRAW));
}

unsigned long WWindowContext::getWindowWidth() const
{
    RECT r {0, 0, 0, 0};
    wplat::getWindowRect(window, r);
    return (unsigned long)(r.right - r.left);
}

unsigned long WWindowContext::getWindowHeight() const
{
    RECT r {0, 0, 0, 0};
    wplat::getWindowRect(window, r);
    return (unsigned long)(r.bottom - r.top);
}

void WWindowContext::getWindowArea(RECT& area) const
{
    if (!wplat::getWindowRect(window, area)) area = RECT {0, 0, 0, 0};
}

void WWindowContext::getClientArea(RECT& area) const
{
    if (!wplat::getClientRect(window, area)) area = RECT {0, 0, 0, 0};
}

void WWindowContext::setFocusWindow(bool selectAll, bool next)
{
    HWND target = next ? wplat::getWindow(window, GW_HWNDNEXT) : window;
    if (target == nullptr) return;
    wplat::setFocus(target);
    if (selectAll) {
        int length = wplat::getWindowTextLength(target);
        wplat::sendMessage(target, EM_SETSEL, 0, (LPARAM)length);
        wplat::sendMessage(target, EM_SCROLLCARET, 0, 0);
    }
}

void WWindowContext::enableWindow(bool enable)
{
    wplat::enableWindow(window, enable);
}

bool WWindowContext::isWindowEnabled() const
{
    return wplat::isWindowEnabled(window);
}

void WWindowContext::showWindow()
{
    wplat::showWindow(window, SW_SHOWNORMAL);
}

void WWindowContext::hideWindow()
{
    wplat::showWindow(window, SW_HIDE);
}

void WWindowContext::invalidateWindow()
{
    wplat::invalidateRect(window, nullptr, false);
}

bool WWindowContext::isDialogWindow() const
{
    return window != nullptr && WSystem::isDialogWindow(window);
}

// --- WWindow -----------------------------------------------------------------------

WWindow::WWindow() : parent(nullptr), ownsWindow(true)
{
}

WWindow::WWindow(const WWindow& other) : WWindowContext(other), parent(nullptr), ownsWindow(false)
{
}

WWindow& WWindow::operator=(const WWindow& other)
{
    if (this != &other) {
        destroy();
        window = other.window;
        parent = nullptr;
        ownsWindow = false;
    }
    return *this;
}

WWindow::~WWindow()
{
    destroy();
}

void WWindow::destroy()
{
    if (ownsWindow && window != nullptr) wplat::destroyWindow(window);
    window = nullptr;
    parent = nullptr;
    // The object can create again, and then owns what it makes.
    ownsWindow = true;
}

void WWindow::create(WWindowContext* parentContext, const char* title, EventHandler* handler, const WWindowStyle& style,
    int x, int y, unsigned long width, unsigned long height)
{
    if (window != nullptr) return;
    HWND parentWindow = parentContext != nullptr ? parentContext->getWindowHandle() : nullptr;
    HWND made = wplat::createWindowEx((DWORD)style.getStyleEx(), style.getClassName(), title != nullptr ? title : "",
        (DWORD)style.getStyle(), x, y, (int)width, (int)height, parentWindow, nullptr, WSystem::getInstance(), nullptr);
    if (made == nullptr) throw WSystemException("Cannot create window.", -4);
    window = made;
    ownsWindow = true;
    wplat::sendMessage(window, MESSAGE_CREATE, 0, (LPARAM)handler);
    parent = parentContext;
}

void WWindow::create(WWindowContext* parentContext, const char* title, EventHandler* handler, Style style, int x, int y,
    unsigned long width, unsigned long height)
{
    unsigned long bits;
    unsigned long exBits;
    switch (style) {
    case STYLE_NONE:
        bits = 0;
        exBits = 0;
        break;
    case STYLE_POPUP:
        bits = WS_POPUP;
        exBits = WS_EX_CONTROLPARENT;
        break;
    case STYLE_CHILD:
        bits = WS_CHILD;
        exBits = 0;
        break;
    default:
        bits = WS_OVERLAPPEDWINDOW;
        exBits = WS_EX_APPWINDOW;
        break;
    }
    create(parentContext, title, handler, WWindowStyle(getClassName(), bits, exBits), x, y, width, height);
}

void WWindow::setWindowText(const char* text)
{
    wplat::setWindowText(window, text != nullptr ? text : "");
}

void WWindow::setIcon(unsigned long resourceId)
{
    HICON icon = loadProgramIcon((unsigned int)resourceId);
    wplat::sendMessage(window, WM_SETICON, ICON_BIG, (LPARAM)icon);
    wplat::sendMessage(window, WM_SETICON, ICON_SMALL, (LPARAM)icon);
}

void WWindow::maximizeWindow()
{
    wplat::showWindow(window, SW_SHOWMAXIMIZED);
}

void WWindow::minimizeWindow()
{
    wplat::showWindow(window, SW_MINIMIZE);
}

void WWindow::restoreWindow()
{
    wplat::showWindow(window, SW_RESTORE);
}

void WWindow::setForegroundWindow(bool topMost)
{
    wplat::setWindowPos(window, topMost ? HWND_TOPMOST : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void WWindow::setBackgroundWindow()
{
    wplat::setWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void WWindow::setMenu(HMENU menu)
{
    wplat::setMenu(window, menu);
}

void WWindow::redrawMenu()
{
    wplat::drawMenuBar(window);
}

void WWindow::setTimer(unsigned long milliseconds)
{
    wplat::setTimer(window, 0, (UINT)milliseconds);
}

void WWindow::createUserMessage(void* first, void* second)
{
    wplat::postMessage(window, MESSAGE_USER, (WPARAM)first, (LPARAM)second);
}

const char* WWindow::getClassName()
{
    return g_className.c_str();
}

void WWindow::setClassName(const char* name)
{
    g_className = name != nullptr ? name : "";
}

// --- The shared window procedure ---------------------------------------------------------
// One function per group of messages; each answers whether it handled the
// message and with what.

namespace {

struct Answer {
    bool handled;
    LRESULT result;
};
constexpr Answer kNotHandled {false, 0};

// Creation and destruction: the records come and go here.
Answer lifecycleMessage(HWND window, unsigned int message, LPARAM lParam, WWindow::EventHandler* handler)
{
    switch (message) {
    case WM_DESTROY:
        if (handler == nullptr) return kNotHandled;
        handler->onWindowDestroy();
        takeRecord(window);
        return Answer {true, 1};
    case WM_NCDESTROY:
        // A record announced without a handler is freed here.
        takeRecord(window);
        return kNotHandled;
    case WM_INITDIALOG: {
        auto* dialog = (WWindow::DialogHandlerRecord*)lParam;
        if (dialog != nullptr) {
            putRecord(
                window, std::make_unique<WWindow::WindowRecord>(WWindow::WindowRecord {dialog->handler, false, true}));
            if (dialog->dialog != nullptr) WWindow::attachDialogWindow(*dialog->dialog, window);
            if (dialog->handler != nullptr) dialog->handler->onWindowCreate();
        }
        return Answer {true, 1};
    }
    case WWindow::MESSAGE_CREATE: {
        auto* made = putRecord(window,
            std::make_unique<WWindow::WindowRecord>(
                WWindow::WindowRecord {(WWindow::EventHandler*)lParam, false, false}));
        if (made->handler != nullptr) made->handler->onWindowCreate();
        return Answer {true, 0};
    }
    default:
        return kNotHandled;
    }
}

// Sizes, painting, erasing, the frame and the cursor.
Answer paintMessage(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam, WWindow::EventHandler* handler)
{
    switch (message) {
    case WM_SIZE:
        if (handler != nullptr) {
            if (wParam == 0) handler->onWindowRestore();
            handler->onWindowResize(LOWORD((uintptr_t)lParam), HIWORD((uintptr_t)lParam));
        }
        return kNotHandled;
    case WM_PAINT: {
        if (handler == nullptr) return kNotHandled;
        PAINTSTRUCT paint;
        HDC dc = wplat::beginPaint(window, paint);
        try {
            handler->onWindowRestore(dc, paint.rcPaint);
        } catch (...) {
            wplat::endPaint(window, paint);
            throw;
        }
        wplat::endPaint(window, paint);
        return Answer {true, 0};
    }
    case WM_ERASEBKGND:
        if (handler != nullptr && handler->onWindowEraseBackground((HDC)wParam)) return Answer {true, 1};
        return kNotHandled;
    case WM_SETCURSOR: {
        HCURSOR cursor = WSystem::getSystemInfo().getCurrentCursorHandle();
        if (cursor == nullptr) return kNotHandled;
        wplat::setCursor(cursor);
        return Answer {true, 0};
    }
    case WM_NCPAINT:
        if (handler != nullptr) {
            HDC dc = wplat::getWindowDC(window);
            if (dc != nullptr) {
                handler->onWindowRestoreNoClient(dc);
                wplat::releaseDC(window, dc);
            }
        }
        return kNotHandled;
    default:
        return kNotHandled;
    }
}

// Mouse and keyboard.
Answer inputMessage(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam, WWindow::WindowRecord* record)
{
    WWindow::EventHandler* handler = record != nullptr ? record->handler : nullptr;
    if (handler == nullptr) return kNotHandled;
    int x = GET_X_LPARAM(lParam);
    int y = GET_Y_LPARAM(lParam);
    switch (message) {
    case WM_KEYDOWN:
        handler->onWindowKeyPressed((int)wParam);
        break;
    case WM_MOUSEMOVE:
        if (!record->mouseInside) {
            wplat::trackMouseEvent(window, TME_LEAVE);
            record->mouseInside = true;
            handler->onWindowMouseEnter();
        }
        handler->onWindowMouseMove(x, y, nullptr);
        break;
    case WM_LBUTTONDOWN:
        handler->onWindowMouseLeftDown(x, y, nullptr);
        break;
    case WM_LBUTTONUP:
        handler->onWindowMouseLeftUp(x, y, nullptr);
        break;
    case WM_LBUTTONDBLCLK:
        handler->onWindowMouseLeftDoubleClick(x, y, nullptr);
        break;
    case WM_RBUTTONDOWN:
        handler->onWindowMouseRightDown(x, y, nullptr);
        break;
    case WM_RBUTTONUP:
        handler->onWindowMouseRightUp(x, y, nullptr);
        break;
    case WM_MOUSELEAVE:
        if (record->mouseInside) {
            record->mouseInside = false;
            handler->onWindowMouseLeave();
            HWND parentWindow = wplat::getParent(window);
            if (parentWindow != nullptr) {
                POINT p {0, 0};
                wplat::getCursorPos(p);
                wplat::sendMessage(parentWindow, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
            }
        }
        break;
    default:
        break;
    }
    return kNotHandled;
}

// Closing, timers and the user message.
Answer commandMessage(unsigned int message, WPARAM wParam, LPARAM lParam, WWindow::EventHandler* handler)
{
    if (handler == nullptr) return kNotHandled;
    switch (message) {
    case WM_CLOSE:
        handler->onWindowClose();
        return Answer {true, 1};
    case WM_TIMER:
        handler->onWindowTimerTick();
        return kNotHandled;
    case WWindow::MESSAGE_USER:
        handler->onWindowUserMessage((void*)wParam, (void*)lParam);
        return kNotHandled;
    default:
        return kNotHandled;
    }
}

} // namespace

void WWindow::attachDialogWindow(WWindow& dialog, HWND handle)
{
    dialog.window = handle;
}

LRESULT WWindow::windowProc(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    WindowRecord* record = recordOf(window);
    bool dialogWindow = record != nullptr && record->dialogWindow;
    EventHandler* handler = record != nullptr ? record->handler : nullptr;
    try {
        if (handler != nullptr) {
            LRESULT answer = handler->onWindowMessage(window, message, wParam, lParam);
            if (answer != 0) return answer;
            // The handler may have destroyed the window (and its record).
            record = recordOf(window);
            handler = record != nullptr ? record->handler : nullptr;
        }
        Answer a = lifecycleMessage(window, message, lParam, handler);
        if (message == WM_DESTROY || message == WM_NCDESTROY) {
            // The record may be gone now; the other groups must not see it.
            record = nullptr;
            handler = nullptr;
        }
        if (!a.handled) a = paintMessage(window, message, wParam, lParam, handler);
        if (!a.handled) a = inputMessage(window, message, wParam, lParam, record);
        if (!a.handled) a = commandMessage(message, wParam, lParam, handler);
        if (a.handled) return a.result;
    } catch (const WException&) {
        // Dropped: the message gets its default handling.
    }
    if (dialogWindow) return 0;
    return wplat::defWindowProc(window, message, wParam, lParam);
}
