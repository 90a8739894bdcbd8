// What library start-up needs from the window system, installed when the
// library loads. The console program uses only the short start-up: it gets
// the default font as a description and the display table, and never starts
// the user interface.

#include <memory>
#include <vector>

#include "Controls.h"
#include "DisplayProvider.h"
#include "Platform.h"
#include "WFont.h"
#include "WSystem.h"
#include "WSystemHooks.h"
#include "WWindow.h"

namespace {

std::shared_ptr<WFont> createDefaultFont(
    const char* name, unsigned long points, unsigned long style, unsigned long weight, unsigned long color)
{
    return std::make_shared<WFont>(name, points, style, weight, color);
}

void showCursor(bool show)
{
    if (wplat::isUiStarted() && wplat::isUiThread()) wplat::setCursor(show ? wplat::loadCursor(IDC_ARROW) : nullptr);
}

void getDisplayDevices(WDisplayDeviceTable& devices)
{
    std::vector<wplat::DisplayDeviceInfo> found;
    wplat::displayProvider().devices(found);
    unsigned long key = 0;
    for (const auto& d : found) {
        const GUID* guid = d.hasGuid ? &d.guid : nullptr;
        key++;
        if (d.hasMonitor) {
            WDisplayDevice::MonitorInfo info {{d.workArea.left, d.workArea.top, d.workArea.right, d.workArea.bottom},
                {d.monitorArea.left, d.monitorArea.top, d.monitorArea.right, d.monitorArea.bottom}};
            devices.put(key, WDisplayDevice(d.name.c_str(), d.description.c_str(), d.primary, info, guid));
        } else {
            devices.put(key, WDisplayDevice(d.name.c_str(), d.description.c_str(), d.primary, guid));
        }
    }
}

bool registerWindowClass(const char* name, HINSTANCE instance)
{
    // The standard controls, so dialogs can be made of them.
    wplat::registerControlClasses();
    if (wplat::startUi() == wplat::UiStart::NoDisplay) return false;
    WWindow::setClassName(name);
    wplat::WindowClass cls;
    if (wplat::getClassInfo(name, cls)) return true;
    cls.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    cls.proc = &WWindow::windowProc;
    cls.instance = instance;
    cls.cursor = wplat::loadCursor(IDC_ARROW);
    cls.background = nullptr;
    cls.name = name;
    return wplat::registerClass(cls);
}

// The program's loop: the given window and the registered dialogs get the
// keyboard interface of dialogs; the list follows every registry change.
int messageLoop(HWND window, unsigned long)
{
    HWND targets[16];
    unsigned long count = 0;
    unsigned long version = WSystem::getDialogWindowsVersion() + 1;
    MSG msg;
    while (wplat::getMessage(msg, nullptr)) {
        if (version != WSystem::getDialogWindowsVersion()) {
            version = WSystem::getDialogWindowsVersion();
            count = 0;
            if (window != nullptr) targets[count++] = window;
            HWND dialogs[16];
            unsigned long n = WSystem::getDialogWindows(dialogs, 16);
            for (unsigned long i = 0; i < n && count < 16; i++)
                targets[count++] = dialogs[i];
        }
        bool taken = false;
        for (unsigned long i = 0; i < count && !taken; i++)
            taken = wplat::isDialogMessage(targets[i], msg);
        if (!taken) {
            wplat::translateMessage(msg);
            wplat::dispatchMessage(msg);
        }
    }
    return (int)msg.wParam;
}

void postQuit(void* code)
{
    wplat::postQuitMessage(*(int*)code);
}

void exitLoop(int code)
{
    wplat::runOnUiThread(postQuit, &code);
}

bool messageBox(WWindowContext* owner, const char* text, const char* caption, int kind, bool& answer)
{
    if (!wplat::isUiStarted()) return false;
    UINT type = kind == 2 ? (MB_YESNO | MB_ICONQUESTION) : (kind == 1 ? MB_ICONWARNING : MB_ICONINFORMATION);
    int result = wplat::messageBox(owner != nullptr ? owner->getWindowHandle() : nullptr, text, caption, type);
    if (result == 0) return false;
    answer = result == IDOK || result == IDYES;
    return true;
}

HCURSOR loadCursor(int type)
{
    switch (type) {
    case WSystem::CURSOR_ARROW:
        return wplat::loadCursor(IDC_ARROW);
    case WSystem::CURSOR_HAND:
        return wplat::loadCursor(IDC_HAND);
    case WSystem::CURSOR_SIZE_WE:
        return wplat::loadCursor(IDC_SIZEWE);
    default:
        return nullptr;
    }
}

struct Installer {
    Installer()
    {
        WSystemHooks hooks;
        hooks.createDefaultFont = createDefaultFont;
        hooks.showCursor = showCursor;
        hooks.getDisplayDevices = getDisplayDevices;
        hooks.registerWindowClass = registerWindowClass;
        hooks.messageLoop = messageLoop;
        hooks.exit = exitLoop;
        hooks.messageBox = messageBox;
        hooks.loadCursor = loadCursor;
        WSystem::setHooks(hooks);
    }
};

Installer g_installer;

} // namespace
