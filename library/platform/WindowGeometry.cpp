// Where windows are and how they show: positions and sizes (with the
// window manager's frame for top-levels), screen coordinates, show states,
// enabling and the foreground.

#include <algorithm>

#include "internal/Core.h"
#include "internal/WindowTable.h"

namespace wplat {

using namespace detail;

// --- Geometry ----------------------------------------------------------------------------

bool setWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags)
{
    auto w = findWindow(window);
    if (!w) return false;
    if (w->owner != currentQueue()) {
        bool done = false;
        callOnThread(w->owner, [&] { done = setWindowPos(window, insertAfter, x, y, width, height, flags); });
        return done;
    }
    if ((w->style & WS_CHILD) == 0 && w->view) {
        // A top-level's size takes in its frame; the client gets the rest.
        RECT frame = w->view->frameExtents();
        width -= frame.left + frame.right;
        height -= frame.top + frame.bottom;
    }
    if ((flags & SWP_NOZORDER) == 0) {
        if (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
            if (insertAfter == HWND_TOPMOST)
                w->exStyle |= WS_EX_TOPMOST;
            else
                w->exStyle &= ~WS_EX_TOPMOST;
            if (w->view) w->view->setTopMost(insertAfter == HWND_TOPMOST, true);
        } else if (insertAfter == HWND_TOP && w->view) {
            w->view->setTopMost((w->exStyle & WS_EX_TOPMOST) != 0, true);
        }
    }
    bool moved = (flags & SWP_NOMOVE) == 0 && (x != w->x || y != w->y);
    bool sized = (flags & SWP_NOSIZE) == 0 && (width != w->width || height != w->height);
    if (moved) {
        w->x = x;
        w->y = y;
    }
    if (sized) {
        w->width = std::max(width, 0);
        w->height = std::max(height, 0);
    }
    if ((moved || sized) && w->view) w->view->setGeometry(w->x, w->y, w->width, w->height);
    // Room given to or taken back from the window's own bars is client area
    // that changes hands: it is painted anew.
    bool reframed = (flags & SWP_FRAMECHANGED) != 0 && takeBarRoom(*w);
    if (sized || reframed) {
        sendMessage(
            window, WM_SIZE, w->showState == SW_SHOWMAXIMIZED ? SIZE_MAXIMIZED : SIZE_RESTORED, clientSizeParam(*w));
        w->frameDirty = true;
        if (reframed || ((flags & SWP_NOREDRAW) == 0 && (w->cls->style & (CS_HREDRAW | CS_VREDRAW)) != 0))
            invalidateRect(window, nullptr, true);
    }
    if (moved) sendMessage(window, WM_MOVE, 0, MAKELPARAM(w->x, w->y));
    if ((flags & SWP_SHOWWINDOW) != 0) showWindow(window, SW_SHOWNA_INTERNAL);
    if ((flags & SWP_HIDEWINDOW) != 0) showWindow(window, SW_HIDE);
    return true;
}

bool moveWindow(HWND window, int x, int y, int width, int height, bool repaint)
{
    return setWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | (repaint ? 0u : (UINT)SWP_NOREDRAW));
}

POINT detail::clientOrigin(const std::shared_ptr<Window>& w)
{
    // Children are placed in their parent's client area; top-levels on the
    // screen where their view (or their own position) says.
    if ((w->style & WS_CHILD) != 0 && w->parent != nullptr) {
        auto p = findWindow(w->parent);
        if (p) {
            POINT o = clientOrigin(p);
            return POINT {o.x + w->x, o.y + w->y};
        }
    }
    if (w->view) return w->view->screenOrigin();
    return POINT {w->x, w->y};
}

bool getWindowRect(HWND window, RECT& rect)
{
    auto w = findWindow(window);
    if (!w) return false;
    POINT o = clientOrigin(w);
    rect = RECT {o.x, o.y, o.x + w->width, o.y + w->height};
    if ((w->style & WS_CHILD) == 0 && w->view) {
        RECT frame = w->view->frameExtents();
        rect.left -= frame.left;
        rect.top -= frame.top;
        rect.right += frame.right;
        rect.bottom += frame.bottom;
    }
    return true;
}

bool getClientRect(HWND window, RECT& rect)
{
    auto w = findWindow(window);
    if (!w) return false;
    rect = clientRect(*w);
    return true;
}

int getSystemMetrics(int index)
{
    // The thickness of the SCROLLBAR control's arrows, which are square.
    constexpr int kScrollBar = 16;
    return index == SM_CXVSCROLL || index == SM_CYHSCROLL ? kScrollBar : 0;
}

bool clientToScreen(HWND window, POINT& point)
{
    auto w = findWindow(window);
    if (!w) return false;
    POINT o = clientOrigin(w);
    point.x += o.x;
    point.y += o.y;
    return true;
}

bool screenToClient(HWND window, POINT& point)
{
    auto w = findWindow(window);
    if (!w) return false;
    POINT o = clientOrigin(w);
    point.x -= o.x;
    point.y -= o.y;
    return true;
}

bool showWindow(HWND window, int command)
{
    auto w = findWindow(window);
    if (!w) return false;
    if (w->owner != currentQueue()) {
        bool was = false;
        callOnThread(w->owner, [&] { was = showWindow(window, command); });
        return was;
    }
    bool wasVisible = w->visible;
    bool show = command != SW_HIDE;
    if (show != wasVisible) sendMessage(window, WM_SHOWWINDOW, show ? 1 : 0, 0);
    w->visible = show;
    if (show)
        w->style |= WS_VISIBLE;
    else
        w->style &= ~WS_VISIBLE;
    int state = w->showState;
    if (command == SW_SHOWMAXIMIZED)
        state = SW_SHOWMAXIMIZED;
    else if (command == SW_SHOWMINIMIZED || command == SW_MINIMIZE)
        state = SW_SHOWMINIMIZED;
    else if (command == SW_RESTORE && state == SW_SHOWMINIMIZED)
        state = w->restoreState; // back to maximised when it was
    else if (command == SW_RESTORE || command == SW_SHOWNORMAL)
        state = SW_SHOWNORMAL;
    else if (command == SW_SHOW && state == SW_SHOWMINIMIZED)
        state = w->restoreState; // showing a minimised window brings it back
    if (state == SW_SHOWMINIMIZED && w->showState != SW_SHOWMINIMIZED) w->restoreState = w->showState;
    int old = w->showState;
    if (state != old) {
        // The new state first: sizes the substrate reports meanwhile are of it.
        w->showState = state;
        w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
        w->style |= state == SW_SHOWMINIMIZED ? WS_MINIMIZE : state == SW_SHOWMAXIMIZED ? WS_MAXIMIZE : 0;
    }
    if (w->view) {
        if (state != old) w->view->setShowState(state);
        w->view->setVisible(show);
    }
    if (state != old) {
        if (state == SW_SHOWMINIMIZED)
            sendMessage(window, WM_SIZE, SIZE_MINIMIZED, 0);
        else
            sendMessage(
                window, WM_SIZE, state == SW_SHOWMAXIMIZED ? SIZE_MAXIMIZED : SIZE_RESTORED, clientSizeParam(*w));
    }
    if (show && !wasVisible) {
        w->frameDirty = true;
        invalidateRect(window, nullptr, true);
    }
    if (show && (w->style & WS_CHILD) == 0 && command != SW_SHOWNOACTIVATE && command != SW_SHOWNA_INTERNAL
        && command != SW_SHOWMINIMIZED && command != SW_MINIMIZE)
        w->owner->active = window;
    return wasVisible;
}

bool isWindowVisible(HWND window)
{
    auto w = findWindow(window);
    while (w) {
        if (!w->visible) return false;
        if ((w->style & WS_CHILD) == 0 || w->parent == nullptr) return true;
        w = findWindow(w->parent);
    }
    return false;
}

bool isIconic(HWND window)
{
    auto w = findWindow(window);
    return w && w->showState == SW_SHOWMINIMIZED;
}

bool isZoomed(HWND window)
{
    auto w = findWindow(window);
    return w && w->showState == SW_SHOWMAXIMIZED;
}

bool enableWindow(HWND window, bool enable)
{
    auto w = findWindow(window);
    if (!w) return false;
    if (w->owner != currentQueue()) {
        bool was = false;
        callOnThread(w->owner, [&] { was = enableWindow(window, enable); });
        return was;
    }
    bool wasDisabled = !w->enabled;
    if (w->enabled != enable) {
        w->enabled = enable;
        if (enable)
            w->style &= ~WS_DISABLED;
        else
            w->style |= WS_DISABLED;
        if (w->view) w->view->setEnabled(enable);
        if (!enable && w->owner->focus == window) setFocus(nullptr);
        sendMessage(window, WM_ENABLE, enable ? 1 : 0, 0);
    }
    return wasDisabled;
}

bool isWindowEnabled(HWND window)
{
    auto w = findWindow(window);
    return w && w->enabled;
}

bool setForegroundWindow(HWND window)
{
    auto w = findWindow(window);
    if (!w) return false;
    if (w->owner != currentQueue()) {
        bool done = false;
        callOnThread(w->owner, [&] { done = setForegroundWindow(window); });
        return done;
    }
    w->owner->active = getAncestorTopLevel(window);
    if (w->view) w->view->setTopMost((w->exStyle & WS_EX_TOPMOST) != 0, true);
    return true;
}

} // namespace wplat
