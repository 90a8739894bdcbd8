#include "WControl.h"

#include <cstdio>

#include "Platform.h"
#include "WException.h"
#include "WHashtable.h"
#include "WSystem.h"

namespace {

// Window handle -> control; changed only under g_mutex.
WHashtable<unsigned long, WControl*, unsigned long, WControl*>& controlTable()
{
    // Never destroyed: controls may be destroyed by static destructors.
    static auto* table = new WHashtable<unsigned long, WControl*, unsigned long, WControl*>;
    return *table;
}

// The previous procedure stays with the window, so messages that arrive
// after the control let go (WM_NCDESTROY) still reach it.
const char* const kPreviousProc = "WControl.previous";

void unregisterWindow(HWND window)
{
    WSystem::enterMutex(g_mutex);
    controlTable().remove((unsigned long)(uintptr_t)window);
    wplat::setWindowLongPtr(window, GWLP_USERDATA, 0);
    WSystem::leaveMutex(g_mutex);
}

} // namespace

WControl::WControl()
    : controlId(0), prevWndProc(nullptr), context(nullptr), arangeHandler(nullptr), ownsWindow(true),
      origin(Origin::Created)
{
}

WControl::WControl(WWindowContext* owner, const char* controlName, unsigned long dialogItemId) : WControl()
{
    create(owner, controlName, dialogItemId);
}

WControl::WControl(WWindowContext* owner, const char* controlName, const WWindowStyle& style, int x, int y,
    unsigned long width, unsigned long height)
    : WControl()
{
    create(owner, controlName, style, x, y, width, height);
}

WControl::WControl(const WControl& other)
    : WWindowContext(other), name(other.name), controlId(other.controlId), prevWndProc(other.prevWndProc),
      context(other.context), arangeHandler(other.arangeHandler), ownsWindow(false), origin(other.origin)
{
}

WControl& WControl::operator=(const WControl& other)
{
    if (this != &other) {
        release();
        window = other.window;
        name = other.name;
        controlId = other.controlId;
        prevWndProc = other.prevWndProc;
        context = other.context;
        arangeHandler = other.arangeHandler;
        ownsWindow = false;
        origin = other.origin;
    }
    return *this;
}

WControl::~WControl()
{
    release();
}

void WControl::release()
{
    if (window != nullptr && ownsWindow && wplat::isWindow(window) && WControlManager::getControl(window) == this) {
        if (origin == Origin::Created) {
            wplat::destroyWindow(window);
        } else {
            // A dialog item outlives its wrapper: undo the subclassing.
            unregisterWindow(window);
            wplat::setWindowLongPtr(window, GWLP_WNDPROC, (LONG_PTR)prevWndProc);
            wplat::setProp(window, kPreviousProc, nullptr);
        }
    }
    initialize();
}

void WControl::destroy()
{
    release();
}

void WControl::initialize()
{
    window = nullptr;
    context = nullptr;
    prevWndProc = nullptr;
    controlId = 0;
    arangeHandler = nullptr;
    ownsWindow = true;
    origin = Origin::Created;
}

bool WControl::formatText(WString&) const
{
    return false;
}

bool WControl::isTextControl() const
{
    return false;
}

void WControl::getControlArea(RECT& area)
{
    getWindowArea(area);
}

unsigned long WControl::getControlWidth() const
{
    return getWindowWidth();
}

unsigned long WControl::getControlHeight() const
{
    return getWindowHeight();
}

void WControl::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    if (window != nullptr) return;
    HWND parent = owner != nullptr ? owner->getWindowHandle() : nullptr;
    window = parent != nullptr ? wplat::getDlgItem(parent, (int)dialogItemId) : nullptr;
    registerControl(owner, controlName, dialogItemId, Origin::Attached);
}

void WControl::create(WWindowContext* owner, const char* controlName, const WWindowStyle& style, int x, int y,
    unsigned long width, unsigned long height)
{
    if (window != nullptr) return;
    HWND parent = owner != nullptr ? owner->getWindowHandle() : nullptr;
    window = wplat::createWindowEx((DWORD)style.getStyleEx(), style.getClassName(), "",
        (DWORD)style.getStyle() | WS_TABSTOP, x, y, (int)width, (int)height, parent, nullptr, WSystem::getInstance(),
        nullptr);
    registerControl(owner, controlName, 0, Origin::Created);
}

void WControl::registerControl(WWindowContext* owner, const char* controlName, unsigned long id, Origin how)
{
    // A window already held by a control cannot be attached twice: the
    // second subclassing would chain the shared procedure onto itself.
    if (window == nullptr || WControlManager::getControl(window) != nullptr
        || (WNDPROC)wplat::getWindowLongPtr(window, GWLP_WNDPROC) == &WControl::controlProc) {
        window = nullptr;
        WFormattedString message("Cannot create GUI control %s", controlName != nullptr ? controlName : "");
        throw WControlException(message, -1);
    }
    context = owner;
    name = controlName != nullptr ? controlName : "";
    controlId = id;
    ownsWindow = true;
    origin = how;
    prevWndProc = (WNDPROC)wplat::setWindowLongPtr(window, GWLP_WNDPROC, (LONG_PTR)&WControl::controlProc);
    wplat::setProp(window, kPreviousProc, (void*)prevWndProc);
    WSystem::enterMutex(g_mutex);
    wplat::setWindowLongPtr(window, GWLP_USERDATA, (LONG_PTR)this);
    controlTable().put((unsigned long)(uintptr_t)window, this);
    WSystem::leaveMutex(g_mutex);
}

unsigned long WControl::getNameId() const
{
    unsigned int id = 0;
    const char* text = name.getBuf();
    if (text == nullptr || text[0] != '#') return 0;
    // One number after the sign; what follows it does not matter.
    return sscanf(text, "#%u", &id) == 1 ? id : 0;
}

void WControl::setClientEdge(bool on)
{
    if (window == nullptr) return;
    LONG_PTR style = wplat::getWindowLongPtr(window, GWL_EXSTYLE);
    style = on ? (style | WS_EX_CLIENTEDGE) : (style & ~(LONG_PTR)WS_EX_CLIENTEDGE);
    wplat::setWindowLongPtr(window, GWL_EXSTYLE, style);
}

LRESULT WControl::controlProc(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    auto* control = (WControl*)wplat::getWindowLongPtr(window, GWLP_USERDATA);
    if (control == nullptr) {
        auto previous = (WNDPROC)wplat::getProp(window, kPreviousProc);
        return wplat::callWindowProc(previous, window, message, wParam, lParam);
    }
    WWindowContext* owner = control->context;
    WNDPROC previous = control->prevWndProc;
    switch (message) {
    case WM_DESTROY:
        unregisterWindow(window);
        break;
    case WM_KILLFOCUS:
        if (control->isTextControl()) {
            WString text(1024UL);
            if (control->formatText(text)) wplat::sendMessage(window, WM_SETTEXT, 0, (LPARAM)text.getBuf());
        }
        break;
    case WM_PAINT:
        if (control->arangeHandler != nullptr) control->arangeHandler->onWindowUserMessage((void*)1, (void*)0);
        break;
    case WM_SETCURSOR:
        if (control->arangeHandler != nullptr) return 0;
        break;
    case WM_GETDLGCODE: {
        auto* msg = (const MSG*)lParam;
        if (msg != nullptr && msg->message == WM_KEYDOWN && (msg->wParam == VK_TAB || msg->wParam == VK_RETURN)
            && owner != nullptr && owner->setFocusNextControl(*control, msg->wParam == VK_RETURN))
            return DLGC_WANTALLKEYS;
        break;
    }
    case WM_KEYDOWN:
        if (owner != nullptr && owner->onControlKeyPressed(*control, (int)wParam)) return 1;
        break;
    case WM_CHAR:
        if ((wParam == VK_TAB || wParam == VK_RETURN) && owner != nullptr
            && owner->setFocusNextControl(*control, wParam == VK_RETURN))
            return 1;
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
        if (control->arangeHandler != nullptr) {
            RECT own {0, 0, 0, 0};
            RECT parentArea {0, 0, 0, 0};
            wplat::getWindowRect(window, own);
            wplat::getWindowRect(wplat::getParent(window), parentArea);
            int x = (int)(int16_t)(LOWORD((uintptr_t)lParam) + own.left - parentArea.left);
            int y = (int)(int16_t)(HIWORD((uintptr_t)lParam) + own.top - parentArea.top);
            if (message == WM_LBUTTONDOWN)
                control->arangeHandler->onWindowMouseLeftDown(x, y, control);
            else
                control->arangeHandler->onWindowMouseMove(x, y, control);
            return 0;
        }
        break;
    default:
        break;
    }
    if (owner != nullptr && owner->onControlMessage(*control, message, (unsigned long)wParam, (unsigned long)lParam))
        return 1;
    return wplat::callWindowProc(previous, window, message, wParam, lParam);
}

WControl* WControlManager::getControl(HWND window)
{
    // Read under the lock: other threads may be registering meanwhile.
    WSystem::enterMutex(g_mutex);
    WControl** found = controlTable().find((unsigned long)(uintptr_t)window);
    WControl* control = found != nullptr ? *found : nullptr;
    WSystem::leaveMutex(g_mutex);
    return control;
}
