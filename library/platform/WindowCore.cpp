// Windows, classes, slots, creation and destruction order, text, menu bars
// and focus. Handles are generation-checked: a stale handle finds nothing and
// every operation on it is a no-op.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "internal/Core.h"
#include "internal/WindowTable.h"

namespace wplat::detail {

namespace {

// The tables are never destroyed: windows may go away in static destructors.
std::mutex& g_classLock = *new std::mutex;
std::map<std::string, std::shared_ptr<WindowClass>>& g_classes
    = *new std::map<std::string, std::shared_ptr<WindowClass>>;
std::map<std::string, std::string>& g_classNames = *new std::map<std::string, std::string>; // keeps names alive

} // namespace

bool rectEmpty(const RECT& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

RECT intersect(const RECT& a, const RECT& b)
{
    RECT r {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    if (rectEmpty(r)) return RECT {0, 0, 0, 0};
    return r;
}

static bool contains(const RECT& outer, const RECT& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right
        && inner.bottom <= outer.bottom;
}

void Region::add(const RECT& r)
{
    if (rectEmpty(r)) return;
    for (const RECT& have : rects) {
        if (contains(have, r)) return;
    }
    rects.erase(
        std::remove_if(rects.begin(), rects.end(), [&](const RECT& have) { return contains(r, have); }), rects.end());
    rects.push_back(r);
    // Many small rectangles become their bounding box.
    if (rects.size() > 16) {
        RECT b = bounds();
        rects.assign(1, b);
    }
}

void Region::clipTo(const RECT& r)
{
    std::vector<RECT> out;
    for (const RECT& have : rects) {
        RECT c = intersect(have, r);
        if (!rectEmpty(c)) out.push_back(c);
    }
    rects.swap(out);
}

RECT Region::bounds() const
{
    if (rects.empty()) return RECT {0, 0, 0, 0};
    RECT b = rects[0];
    for (const RECT& r : rects) {
        b.left = std::min(b.left, r.left);
        b.top = std::min(b.top, r.top);
        b.right = std::max(b.right, r.right);
        b.bottom = std::max(b.bottom, r.bottom);
    }
    return b;
}

// --- Handle table ----------------------------------------------------------------

namespace {

struct Slot {
    uint32_t generation = 0;
    std::shared_ptr<Window> window;
};

std::mutex& g_tableLock = *new std::mutex;
std::vector<Slot>& g_slots = *new std::vector<Slot>(1);
std::vector<uint32_t>& g_free = *new std::vector<uint32_t>;

} // namespace

HWND addWindow(const std::shared_ptr<Window>& window)
{
    std::lock_guard<std::mutex> guard(g_tableLock);
    uint32_t index;
    if (!g_free.empty()) {
        index = g_free.back();
        g_free.pop_back();
    } else {
        index = (uint32_t)g_slots.size();
        g_slots.emplace_back();
    }
    Slot& slot = g_slots[index];
    slot.generation++;
    slot.window = window;
    HWND handle = (HWND)(uintptr_t)(((uint64_t)slot.generation << 32) | index);
    window->handle = handle;
    return handle;
}

void removeWindow(HWND handle)
{
    std::lock_guard<std::mutex> guard(g_tableLock);
    uint64_t value = (uint64_t)(uintptr_t)handle;
    uint32_t index = (uint32_t)(value & 0xFFFFFFFFu);
    uint32_t generation = (uint32_t)(value >> 32);
    if (index == 0 || index >= g_slots.size() || g_slots[index].generation != generation || !g_slots[index].window)
        return;
    g_slots[index].window.reset();
    g_free.push_back(index);
}

std::shared_ptr<Window> findWindow(HWND handle)
{
    uint64_t value = (uint64_t)(uintptr_t)handle;
    uint32_t index = (uint32_t)(value & 0xFFFFFFFFu);
    uint32_t generation = (uint32_t)(value >> 32);
    std::lock_guard<std::mutex> guard(g_tableLock);
    if (index == 0 || index >= g_slots.size() || g_slots[index].generation != generation) return nullptr;
    return g_slots[index].window;
}

std::vector<std::shared_ptr<Window>> allWindows()
{
    std::lock_guard<std::mutex> guard(g_tableLock);
    std::vector<std::shared_ptr<Window>> out;
    for (const Slot& s : g_slots) {
        if (s.window) out.push_back(s.window);
    }
    return out;
}

LRESULT callProc(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (proc == nullptr) return defWindowProc(window, message, wParam, lParam);
    try {
        return proc(window, message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the substrate's frames.
        fprintf(stderr, "window procedure: exception dropped (message 0x%x)\n", message);
        return 0;
    }
}

RECT clientRect(const Window& w)
{
    return RECT {0, 0, std::max(w.width - w.barRoom.cx, 0), std::max(w.height - w.barRoom.cy, 0)};
}

LPARAM clientSizeParam(const Window& w)
{
    RECT r = clientRect(w);
    return MAKELPARAM(r.right, r.bottom);
}

bool takeBarRoom(Window& w)
{
    SIZE room {(w.style & WS_VSCROLL) != 0 ? getSystemMetrics(SM_CXVSCROLL) : 0,
        (w.style & WS_HSCROLL) != 0 ? getSystemMetrics(SM_CYHSCROLL) : 0};
    bool changed = room.cx != w.barRoom.cx || room.cy != w.barRoom.cy;
    w.barRoom = room;
    return changed;
}

RECT sizeBoxRect(const Window& w)
{
    if (w.barRoom.cx == 0 || w.barRoom.cy == 0) return RECT {0, 0, 0, 0};
    RECT client = clientRect(w);
    return RECT {client.right, client.bottom, std::max(w.width, 0), std::max(w.height, 0)};
}

} // namespace wplat::detail

namespace wplat {

using namespace detail;

// --- Classes ---------------------------------------------------------------------

bool registerClass(const WindowClass& windowClass)
{
    if (windowClass.name == nullptr || windowClass.name[0] == '\0') return false;
    std::lock_guard<std::mutex> guard(g_classLock);
    std::string name = windowClass.name;
    if (g_classes.count(name) != 0) return false;
    auto copy = std::make_shared<WindowClass>(windowClass);
    g_classNames[name] = name;
    copy->name = g_classNames[name].c_str();
    g_classes[name] = copy;
    return true;
}

bool unregisterClass(const char* name)
{
    std::lock_guard<std::mutex> guard(g_classLock);
    return name != nullptr && g_classes.erase(name) != 0;
}

bool getClassInfo(const char* name, WindowClass& out)
{
    std::lock_guard<std::mutex> guard(g_classLock);
    auto it = name != nullptr ? g_classes.find(name) : g_classes.end();
    if (it == g_classes.end()) return false;
    out = *it->second;
    return true;
}

// --- Creation and destruction ---------------------------------------------------------

HWND createWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
    int height, HWND parent, HMENU menuOrId, HINSTANCE instance, void* param)
{
    registerStandardClasses();
    std::shared_ptr<WindowClass> cls;
    {
        std::lock_guard<std::mutex> guard(g_classLock);
        auto it = className != nullptr ? g_classes.find(className) : g_classes.end();
        if (it == g_classes.end()) return nullptr;
        cls = it->second;
    }
    std::shared_ptr<Window> parentWindow;
    if (parent != nullptr) {
        parentWindow = findWindow(parent);
        if (!parentWindow) return nullptr;
    }
    if ((style & WS_CHILD) != 0 && !parentWindow) return nullptr;

    auto w = std::make_shared<Window>();
    w->cls = cls;
    w->proc = cls->proc;
    w->owner = currentQueue();
    w->style = style;
    w->exStyle = exStyle;
    w->instance = instance;
    w->text = title != nullptr ? title : "";
    w->x = x;
    w->y = y;
    w->width = std::max(width, 0);
    w->height = std::max(height, 0);
    w->visible = false;
    w->enabled = (style & WS_DISABLED) == 0;
    if ((style & WS_CHILD) != 0)
        w->id = (LONG_PTR)(intptr_t)menuOrId;
    else if (isMenu(menuOrId))
        w->menu = menuOrId;
    w->parent = parent;
    HWND handle = addWindow(w);
    if (parentWindow) parentWindow->children.push_back(handle);

    if (cls->view != ViewKind::None && backend() != nullptr && isUiThread()
        && (!parentWindow || parentWindow->view || (style & WS_CHILD) == 0))
        w->view = backend()->createView(handle, (style & WS_CHILD) != 0 ? parent : nullptr, style, exStyle);
    if (w->view) w->view->setGeometry(w->x, w->y, w->width, w->height);
    if (w->view && w->menu != nullptr) {
        w->menuHeight = w->view->setMenuBar(w->menu);
        w->height = std::max(0, w->height - w->menuHeight);
    }

    CREATESTRUCT cs {param, instance, menuOrId, parent, height, width, y, x, style, title, className, exStyle};
    if (callProc(w->proc, handle, WM_NCCREATE, 0, (LPARAM)&cs) == 0) {
        destroyWindow(handle);
        return nullptr;
    }
    if (findWindow(handle) == nullptr) return nullptr;
    if (callProc(w->proc, handle, WM_CREATE, 0, (LPARAM)&cs) == -1) {
        destroyWindow(handle);
        return nullptr;
    }
    if (findWindow(handle) == nullptr) return nullptr;
    sendMessage(handle, WM_SIZE, SIZE_RESTORED, clientSizeParam(*w));
    sendMessage(handle, WM_MOVE, 0, MAKELPARAM(w->x, w->y));
    if (findWindow(handle) == nullptr) return nullptr;
    if ((style & WS_VISIBLE) != 0) {
        w->style &= ~WS_VISIBLE;
        showWindow(handle, SW_SHOW);
    }
    return handle;
}

static void sendDestroy(const std::shared_ptr<Window>& w)
{
    // WM_DESTROY goes to the parent first, then to each child.
    w->destroying = true;
    callProc(w->proc, w->handle, WM_DESTROY, 0, 0);
    std::vector<HWND> children = w->children;
    for (HWND child : children) {
        auto c = findWindow(child);
        if (c && !c->destroying) sendDestroy(c);
    }
}

static void finishDestroy(const std::shared_ptr<Window>& w)
{
    // WM_NCDESTROY comes children first; then the handle is gone.
    std::vector<HWND> children = w->children;
    for (HWND child : children) {
        auto c = findWindow(child);
        if (c) finishDestroy(c);
    }
    callProc(w->proc, w->handle, WM_NCDESTROY, 0, 0);
    auto q = w->owner;
    {
        std::lock_guard<std::mutex> guard(q->lock);
        q->timers.erase(
            std::remove_if(q->timers.begin(), q->timers.end(), [&](const Timer& t) { return t.window == w->handle; }),
            q->timers.end());
        if (q->focus == w->handle) q->focus = nullptr;
        if (q->active == w->handle) q->active = nullptr;
        if (q->capture == w->handle) q->capture = nullptr;
    }
    w->view.reset();
    removeWindow(w->handle);
}

bool destroyWindow(HWND handle)
{
    auto w = findWindow(handle);
    if (!w || w->destroying) return false;
    if (w->owner != currentQueue()) {
        // Destroyed on its own thread, whose procedures and views it has;
        // here only when that thread is gone.
        bool done = false;
        if (callOnThread(w->owner, [&] { done = destroyWindow(handle); })) return done;
        w = findWindow(handle);
        if (!w || w->destroying) return false;
    }
    if (w->visible && w->view) w->view->setVisible(false);
    // A window being destroyed takes the focus away from itself and its children.
    auto q = w->owner;
    HWND focus = q->focus;
    if (focus != nullptr && (focus == handle || isChild(handle, focus))) setFocus(nullptr);
    sendDestroy(w);
    finishDestroy(w);
    if (w->parent != nullptr) {
        auto p = findWindow(w->parent);
        if (p) p->children.erase(std::remove(p->children.begin(), p->children.end(), handle), p->children.end());
    }
    return true;
}

bool isWindow(HWND window)
{
    return findWindow(window) != nullptr;
}

bool isChild(HWND parent, HWND window)
{
    auto w = findWindow(window);
    while (w && (w->style & WS_CHILD) != 0 && w->parent != nullptr) {
        if (w->parent == parent) return true;
        w = findWindow(w->parent);
    }
    return false;
}

HWND getParent(HWND window)
{
    auto w = findWindow(window);
    return w ? w->parent : nullptr;
}

HWND getAncestorTopLevel(HWND window)
{
    auto w = findWindow(window);
    while (w && (w->style & WS_CHILD) != 0 && w->parent != nullptr) {
        auto p = findWindow(w->parent);
        if (!p) break;
        w = p;
    }
    return w ? w->handle : nullptr;
}

HWND getWindow(HWND window, UINT relation)
{
    auto w = findWindow(window);
    if (!w) return nullptr;
    if (relation == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
    if (relation == GW_OWNER) return (w->style & WS_CHILD) == 0 ? w->parent : nullptr;
    std::vector<HWND> siblings;
    if (w->parent != nullptr && (w->style & WS_CHILD) != 0) {
        auto p = findWindow(w->parent);
        if (p) siblings = p->children;
    } else {
        siblings.push_back(window);
    }
    auto it = std::find(siblings.begin(), siblings.end(), window);
    switch (relation) {
    case GW_HWNDFIRST:
        return siblings.front();
    case GW_HWNDLAST:
        return siblings.back();
    case GW_HWNDNEXT:
        return (it == siblings.end() || it + 1 == siblings.end()) ? nullptr : *(it + 1);
    case GW_HWNDPREV:
        return (it == siblings.end() || it == siblings.begin()) ? nullptr : *(it - 1);
    default:
        return nullptr;
    }
}

HWND getDlgItem(HWND dialog, int id)
{
    auto w = findWindow(dialog);
    if (!w) return nullptr;
    for (HWND child : w->children) {
        auto c = findWindow(child);
        if (c && c->id == id) return child;
    }
    return nullptr;
}

int getDlgCtrlID(HWND window)
{
    auto w = findWindow(window);
    return w ? (int)w->id : 0;
}

std::string getClassName(HWND window)
{
    auto w = findWindow(window);
    return w ? std::string(w->cls->name) : std::string();
}

// --- Slots -----------------------------------------------------------------------------

LONG_PTR getWindowLongPtr(HWND window, int index)
{
    auto w = findWindow(window);
    if (!w) return 0;
    switch (index) {
    case GWLP_WNDPROC:
        return (LONG_PTR)w->proc;
    case GWLP_HINSTANCE:
        return (LONG_PTR)w->instance;
    case GWLP_HWNDPARENT:
        return (LONG_PTR)w->parent;
    case GWLP_ID:
        return w->id;
    case GWL_STYLE:
        return (LONG_PTR)w->style;
    case GWL_EXSTYLE:
        return (LONG_PTR)w->exStyle;
    case GWLP_USERDATA:
        return w->userData;
    case DWLP_MSGRESULT:
    case DWLP_DLGPROC:
    case DWLP_USER:
        return w->dialogSlots[index / 8];
    default:
        return 0;
    }
}

LONG_PTR setWindowLongPtr(HWND window, int index, LONG_PTR value)
{
    auto w = findWindow(window);
    if (!w) return 0;
    if (index == GWL_EXSTYLE && w->view && w->owner != currentQueue()) {
        LONG_PTR old = 0;
        callOnThread(w->owner, [&] { old = setWindowLongPtr(window, index, value); });
        return old;
    }
    LONG_PTR old = getWindowLongPtr(window, index);
    switch (index) {
    case GWLP_WNDPROC:
        w->proc = (WNDPROC)value;
        break;
    case GWLP_HINSTANCE:
        w->instance = (HINSTANCE)value;
        break;
    case GWLP_ID:
        w->id = value;
        break;
    case GWL_STYLE:
        w->style = (DWORD)value;
        break;
    case GWL_EXSTYLE:
        w->exStyle = (DWORD)value;
        if (w->view) w->view->setTopMost((w->exStyle & WS_EX_TOPMOST) != 0, false);
        break;
    case GWLP_USERDATA:
        w->userData = value;
        break;
    case DWLP_MSGRESULT:
    case DWLP_DLGPROC:
    case DWLP_USER:
        w->dialogSlots[index / 8] = value;
        break;
    default:
        return 0;
    }
    return old;
}

bool setProp(HWND window, const char* name, void* value)
{
    auto w = findWindow(window);
    if (!w || name == nullptr) return false;
    w->props[name] = value;
    return true;
}

void* getProp(HWND window, const char* name)
{
    auto w = findWindow(window);
    if (!w || name == nullptr) return nullptr;
    auto it = w->props.find(name);
    return it == w->props.end() ? nullptr : it->second;
}

// --- Text ------------------------------------------------------------------------------

bool setWindowText(HWND window, const char* text)
{
    if (!isWindow(window)) return false;
    return sendMessage(window, WM_SETTEXT, 0, (LPARAM)(text != nullptr ? text : "")) != 0;
}

std::string getWindowText(HWND window)
{
    if (!isWindow(window)) return std::string();
    LRESULT length = sendMessage(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return std::string();
    std::string text((size_t)length + 1, '\0');
    LRESULT got = sendMessage(window, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data());
    text.resize((size_t)std::max<LRESULT>(0, std::min<LRESULT>(got, length)));
    return text;
}

int getWindowTextLength(HWND window)
{
    return isWindow(window) ? (int)sendMessage(window, WM_GETTEXTLENGTH, 0, 0) : 0;
}

// --- Menu bars -------------------------------------------------------------------------

bool setMenu(HWND window, HMENU menu)
{
    auto w = findWindow(window);
    if (!w || (w->style & WS_CHILD) != 0 || (menu != nullptr && !isMenu(menu))) return false;
    if (w->owner != currentQueue()) {
        bool done = false;
        callOnThread(w->owner, [&] { done = setMenu(window, menu); });
        return done;
    }
    int before = w->menuHeight;
    w->menu = menu;
    int after = w->view ? w->view->setMenuBar(menu) : 0;
    w->menuHeight = after;
    if (before != after) {
        // The bar takes its height from the client area.
        w->height = std::max(0, w->height + before - after);
        sendMessage(
            window, WM_SIZE, w->showState == SW_SHOWMAXIMIZED ? SIZE_MAXIMIZED : SIZE_RESTORED, clientSizeParam(*w));
        invalidateRect(window, nullptr, true);
    }
    return true;
}

HMENU getMenu(HWND window)
{
    auto w = findWindow(window);
    return w && (w->style & WS_CHILD) == 0 ? w->menu : nullptr;
}

bool drawMenuBar(HWND window)
{
    auto w = findWindow(window);
    if (!w || w->menu == nullptr) return false;
    if (w->owner != currentQueue()) {
        bool done = false;
        callOnThread(w->owner, [&] { done = drawMenuBar(window); });
        return done;
    }
    if (w->view) w->view->setMenuBar(w->menu);
    return true;
}

// --- Focus -----------------------------------------------------------------------------

HWND setFocus(HWND window)
{
    auto q = currentQueue();
    HWND old = q->focus;
    if (window != nullptr) {
        auto w = findWindow(window);
        if (!w || !w->enabled) return nullptr;
        if (old == window) return old;
    }
    if (old != nullptr && isWindow(old)) {
        q->focus = nullptr;
        sendMessage(old, WM_KILLFOCUS, (WPARAM)window, 0);
    }
    q->focus = window;
    if (window != nullptr) {
        q->active = getAncestorTopLevel(window);
        auto w = findWindow(window);
        if (w && w->view) w->view->takeFocus();
        sendMessage(window, WM_SETFOCUS, (WPARAM)old, 0);
    }
    return old;
}

HWND getFocus()
{
    HWND f = currentQueue()->focus;
    return isWindow(f) ? f : nullptr;
}

HWND getActiveWindow()
{
    HWND a = currentQueue()->active;
    return isWindow(a) ? a : nullptr;
}

HWND getNextDlgTabItem(HWND dialog, HWND control, bool previous)
{
    auto d = findWindow(dialog);
    if (!d) return nullptr;
    std::vector<HWND> items;
    for (HWND child : d->children) {
        auto c = findWindow(child);
        if (c && (c->style & WS_TABSTOP) != 0 && c->visible && c->enabled) items.push_back(child);
    }
    if (items.empty()) return nullptr;
    // Position of `control` among all children, so a control without a tab
    // stop still finds its neighbours.
    const std::vector<HWND>& all = d->children;
    auto at = std::find(all.begin(), all.end(), control);
    if (at == all.end()) return previous ? items.back() : items.front();
    size_t n = all.size();
    size_t pos = (size_t)(at - all.begin());
    for (size_t step = 1; step <= n; step++) {
        size_t i = previous ? (pos + n - step) % n : (pos + step) % n;
        if (std::find(items.begin(), items.end(), all[i]) != items.end()) return all[i];
    }
    return nullptr;
}

} // namespace wplat
