#include "WWindow.h"

#include <string>

#include "Platform.h"
#include "WException.h"
#include "WSystem.h"

namespace {

std::string g_className = "mirola2";

// The record a window keeps in its user data slot, or null.
WWindow::WindowRecord* recordOf(HWND window)
{
    return (WWindow::WindowRecord*)wplat::getWindowLongPtr(window, GWLP_USERDATA);
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
    RECT r{0, 0, 0, 0};
    wplat::getWindowRect(window, r);
    return (unsigned long)(r.right - r.left);
}

unsigned long WWindowContext::getWindowHeight() const
{
    RECT r{0, 0, 0, 0};
    wplat::getWindowRect(window, r);
    return (unsigned long)(r.bottom - r.top);
}

void WWindowContext::getWindowArea(RECT& area) const
{
    if (!wplat::getWindowRect(window, area))
        area = RECT{0, 0, 0, 0};
}

void WWindowContext::getClientArea(RECT& area) const
{
    if (!wplat::getClientRect(window, area))
        area = RECT{0, 0, 0, 0};
}

void WWindowContext::setFocusWindow(bool selectAll, bool next)
{
    HWND target = next ? wplat::getWindow(window, GW_HWNDNEXT) : window;
    if (target == nullptr)
        return;
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

WWindow::WWindow() : parent(nullptr), ownsWindow(true) {}

WWindow::WWindow(const WWindow& other) : WWindowContext(other), parent(nullptr), ownsWindow(false) {}

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
    if (ownsWindow && window != nullptr)
        wplat::destroyWindow(window);
    window = nullptr;
    parent = nullptr;
    // The object can create again, and then owns what it makes.
    ownsWindow = true;
}

void WWindow::create(WWindowContext* parentContext, const char* title, EventHandler* handler,
                     const WWindowStyle& style, int x, int y, unsigned long width, unsigned long height)
{
    if (window != nullptr)
        return;
    HWND parentWindow = parentContext != nullptr ? parentContext->getWindowHandle() : nullptr;
    HWND made = wplat::createWindowEx((DWORD)style.getStyleEx(), style.getClassName(), title != nullptr ? title : "",
                                      (DWORD)style.getStyle(), x, y, (int)width, (int)height, parentWindow, nullptr,
                                      WSystem::getInstance(), nullptr);
    if (made == nullptr)
        throw WSystemException("Cannot create window.", -4);
    window = made;
    ownsWindow = true;
    wplat::sendMessage(window, MESSAGE_CREATE, 0, (LPARAM)handler);
    parent = parentContext;
}

void WWindow::create(WWindowContext* parentContext, const char* title, EventHandler* handler, Style style, int x,
                     int y, unsigned long width, unsigned long height)
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
    // Icons are program resources; the window keeps the id for the substrate.
    wplat::setProp(window, "icon", (void*)(uintptr_t)resourceId);
    wplat::sendMessage(window, WM_SETICON, 1, (LPARAM)resourceId);
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
    wplat::setWindowPos(window, topMost ? HWND_TOPMOST : HWND_TOP, 0, 0, 0, 0,
                        SWP_NOMOVE | SWP_NOSIZE);
}

void WWindow::setBackgroundWindow()
{
    wplat::setWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void WWindow::setMenu(HMENU menu)
{
    wplat::setProp(window, "menu", (void*)menu);
}

void WWindow::redrawMenu()
{
    wplat::invalidateRect(window, nullptr, false);
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

LRESULT WWindow::windowProc(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    WindowRecord* record = recordOf(window);
    bool dialogWindow = record != nullptr && record->dialogWindow;
    EventHandler* handler = record != nullptr ? record->handler : nullptr;
    try {
        if (handler != nullptr) {
            LRESULT answer = handler->onWindowMessage(window, message, wParam, lParam);
            if (answer != 0)
                return answer;
        }
        switch (message) {
        case WM_DESTROY:
            if (handler != nullptr) {
                handler->onWindowDestroy();
                delete record;
                wplat::setWindowLongPtr(window, GWLP_USERDATA, 0);
                return 1;
            }
            break;
        case WM_NCDESTROY:
            // A record announced without a handler is freed here.
            if (record != nullptr) {
                delete record;
                wplat::setWindowLongPtr(window, GWLP_USERDATA, 0);
            }
            break;
        case WM_SIZE:
            if (handler != nullptr) {
                if (wParam == 0)
                    handler->onWindowRestore();
                handler->onWindowResize(LOWORD((uintptr_t)lParam), HIWORD((uintptr_t)lParam));
            }
            break;
        case WM_PAINT:
            if (handler != nullptr) {
                PAINTSTRUCT paint;
                HDC dc = wplat::beginPaint(window, paint);
                try {
                    handler->onWindowRestore(dc, paint.rcPaint);
                } catch (...) {
                    wplat::endPaint(window, paint);
                    throw;
                }
                wplat::endPaint(window, paint);
                return 0;
            }
            break;
        case WM_CLOSE:
            if (handler != nullptr) {
                handler->onWindowClose();
                return 1;
            }
            break;
        case WM_ERASEBKGND:
            if (handler != nullptr && handler->onWindowEraseBackground((HDC)wParam))
                return 1;
            break;
        case WM_SETCURSOR: {
            HCURSOR cursor = WSystem::getSystemInfo().getCurrentCursorHandle();
            if (cursor != nullptr) {
                wplat::setCursor(cursor);
                return 0;
            }
            break;
        }
        case WM_NCPAINT:
            if (handler != nullptr) {
                HDC dc = wplat::getWindowDC(window);
                if (dc != nullptr) {
                    handler->onWindowRestoreNoClient(dc);
                    wplat::releaseDC(window, dc);
                }
            }
            break;
        case WM_KEYDOWN:
            if (handler != nullptr)
                handler->onWindowKeyPressed((int)wParam);
            break;
        case WM_INITDIALOG: {
            auto* dialog = (DialogHandlerRecord*)lParam;
            if (dialog != nullptr) {
                delete record;
                auto* made = new WindowRecord{dialog->handler, false, true};
                wplat::setWindowLongPtr(window, GWLP_USERDATA, (LONG_PTR)made);
                if (dialog->dialog != nullptr)
                    dialog->dialog->window = window;
                if (dialog->handler != nullptr)
                    dialog->handler->onWindowCreate();
            }
            return 1;
        }
        case WM_TIMER:
            if (handler != nullptr)
                handler->onWindowTimerTick();
            break;
        case WM_MOUSEMOVE:
            if (handler != nullptr) {
                if (!record->mouseInside) {
                    wplat::trackMouseEvent(window, TME_LEAVE);
                    record->mouseInside = true;
                    handler->onWindowMouseEnter();
                }
                handler->onWindowMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), nullptr);
            }
            break;
        case WM_LBUTTONDOWN:
            if (handler != nullptr)
                handler->onWindowMouseLeftDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), nullptr);
            break;
        case WM_LBUTTONUP:
            if (handler != nullptr)
                handler->onWindowMouseLeftUp(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), nullptr);
            break;
        case WM_LBUTTONDBLCLK:
            if (handler != nullptr)
                handler->onWindowMouseLeftDoubleClick(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), nullptr);
            break;
        case WM_RBUTTONDOWN:
            if (handler != nullptr)
                handler->onWindowMouseRightDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), nullptr);
            break;
        case WM_RBUTTONUP:
            if (handler != nullptr)
                handler->onWindowMouseRightUp(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), nullptr);
            break;
        case WM_MOUSELEAVE:
            if (handler != nullptr && record->mouseInside) {
                record->mouseInside = false;
                handler->onWindowMouseLeave();
                HWND parentWindow = wplat::getParent(window);
                if (parentWindow != nullptr) {
                    POINT p{0, 0};
                    wplat::getCursorPos(p);
                    wplat::sendMessage(parentWindow, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
                }
            }
            break;
        case MESSAGE_USER:
            if (handler != nullptr)
                handler->onWindowUserMessage((void*)wParam, (void*)lParam);
            break;
        case MESSAGE_CREATE: {
            delete record;
            auto* made = new WindowRecord{(EventHandler*)lParam, false, false};
            wplat::setWindowLongPtr(window, GWLP_USERDATA, (LONG_PTR)made);
            if (made->handler != nullptr)
                made->handler->onWindowCreate();
            return 0;
        }
        default:
            break;
        }
    } catch (const WException&) {
        // Dropped: the message gets its default handling.
    }
    if (dialogWindow)
        return 0;
    return wplat::defWindowProc(window, message, wParam, lParam);
}
