#pragma once

#include "PlatformTypes.h"
#include "WString.h"
#include "WWindowStyle.h"

class WControl;

// A holder of one native window handle with the four callbacks through which
// controls report to the window or dialog that owns them.
class WWindowContext {
public:
    WWindowContext() : window(nullptr) { }
    virtual ~WWindowContext() = default;
    WWindowContext(const WWindowContext& other) : window(other.window) { }
    WWindowContext& operator=(const WWindowContext& other)
    {
        window = other.window;
        return *this;
    }

    virtual bool setFocusNextControl(WControl& control, bool forward);
    virtual bool onControlKeyPressed(WControl& control, int virtualKey);
    virtual bool onControlMessage(WControl& control, unsigned long message, unsigned long wParam, unsigned long lParam);
    virtual void setExStyle(unsigned long bits, bool set);

    HWND getWindowHandle() const { return window; }
    void setWindowPos(int x, int y, unsigned long width, unsigned long height, bool repaint);
    void resizeWindow(unsigned long width, unsigned long height, bool repaint);
    unsigned long getWindowWidth() const;
    unsigned long getWindowHeight() const;
    void getWindowArea(RECT& area) const;
    void getClientArea(RECT& area) const;
    void setFocusWindow(bool selectAll, bool next);
    void enableWindow(bool enable);
    bool isWindowEnabled() const;
    void showWindow();
    void hideWindow();
    void invalidateWindow();
    bool isDialogWindow() const;

protected:
    HWND window;
};

// A top-level or child window made by the library. Its messages reach the
// EventHandler given to create through the shared window procedure.
class WWindow : public WWindowContext {
public:
    enum Style { STYLE_NONE = 1, STYLE_POPUP = 2, STYLE_CHILD = 4, STYLE_OVERLAPPED = 8 };

    // Receives the window's messages; every default does nothing.
    class EventHandler {
    public:
        EventHandler() = default;
        virtual ~EventHandler() = default;
        EventHandler(const EventHandler&) { }
        EventHandler& operator=(const EventHandler&) { return *this; }

        virtual void onWindowCreate() { }
        virtual void onWindowMouseEnter() { }
        virtual void onWindowMouseLeave() { }
        virtual void onWindowMouseMove(int, int, void*) { }
        virtual void onWindowMouseLeftDown(int, int, void*) { }
        virtual void onWindowMouseLeftDoubleClick(int, int, void*) { }
        virtual void onWindowMouseLeftUp(int, int, void*) { }
        virtual void onWindowMouseRightDown(int, int, void*) { }
        virtual void onWindowMouseRightUp(int, int, void*) { }
        virtual void onWindowKeyPressed(int) { }
        virtual void onWindowRestore() { }
        virtual void onWindowRestore(HDC, const RECT&) { }
        virtual bool onWindowEraseBackground(HDC) { return false; }
        virtual void onWindowRestoreNoClient(HDC) { }
        virtual void onWindowClose() { }
        virtual void onWindowDestroy() { }
        virtual void onWindowTimerTick() { }
        virtual void onWindowUserMessage(void*, void*) { }
        virtual void onWindowResize(unsigned long, unsigned long) { }
        // Sees every message first; a non-zero answer ends its processing.
        // Parameters are pointer-sized so pointers carried by messages survive.
        virtual LRESULT onWindowMessage(HWND, unsigned int, WPARAM, LPARAM) { return 0; }
    };

    // The record the shared window procedure keeps in a window's user data.
    struct WindowRecord {
        EventHandler* handler;
        bool mouseInside;
        bool dialogWindow;
    };

    // What a dialog passes with WM_INITDIALOG: its object and its handler.
    struct DialogHandlerRecord {
        WWindow* dialog;
        EventHandler* handler;
    };

    // Private message numbers: a user message, and the handler announcement.
    static constexpr unsigned int MESSAGE_USER = 2024;
    static constexpr unsigned int MESSAGE_CREATE = 2025;

    WWindow();
    WWindow(const WWindow& other);
    WWindow& operator=(const WWindow& other);
    virtual ~WWindow();

    void destroy();
    void create(WWindowContext* parent, const char* title, EventHandler* handler, const WWindowStyle& style, int x,
        int y, unsigned long width, unsigned long height);
    void create(WWindowContext* parent, const char* title, EventHandler* handler, Style style, int x, int y,
        unsigned long width, unsigned long height);

    void setWindowText(const char* text);
    void setIcon(unsigned long resourceId);
    void maximizeWindow();
    void minimizeWindow();
    void restoreWindow();
    void setForegroundWindow(bool topMost);
    void setBackgroundWindow();
    void setMenu(HMENU menu);
    void redrawMenu();
    void setTimer(unsigned long milliseconds);
    void createUserMessage(void* first, void* second);

    WWindowContext* getParent() const { return parent; }

    // The procedure of the library's window class and of every dialog.
    static LRESULT windowProc(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam);
    // A dialog's object learns its window from WM_INITDIALOG.
    static void attachDialogWindow(WWindow& dialog, HWND handle);
    // The window class name registered at start-up (the program name).
    static const char* getClassName();
    static void setClassName(const char* name);

protected:
    WWindowContext* parent;
    bool ownsWindow;
};
