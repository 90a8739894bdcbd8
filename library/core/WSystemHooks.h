#pragma once

#include <memory>

#include "WSystem.h"

// What the core needs from a window system. The GUI module fills these in
// (WSystem::setHooks) before start-up; any member left null behaves as on a
// machine without a display. Hooks report failures by throwing WException.
struct WSystemHooks {
    // Start-up, in the order it calls them.
    std::shared_ptr<WFont> (*createDefaultFont)(
        const char* name, unsigned long points, unsigned long style, unsigned long weight, unsigned long color)
        = nullptr;
    void (*showCursor)(bool show) = nullptr;
    // OLE, common controls and the rich-edit control.
    void (*initToolkit)() = nullptr;
    // The image library and its JPEG and GIF encoders.
    void (*startImaging)() = nullptr;
    void (*getDisplayDevices)(WDisplayDeviceTable& devices) = nullptr;
    // Long start-up form: the window system and the program's window class.
    // False when there is no display or the class cannot be made.
    bool (*registerWindowClass)(const char* name, HINSTANCE instance) = nullptr;
    // Shutdown: ends the image library.
    void (*shutdownImaging)() = nullptr;

    // The message loop of the user-interface thread and its quit message.
    int (*messageLoop)(HWND window, unsigned long acceleratorId) = nullptr;
    void (*exit)(int code) = nullptr;

    // A modal box; kind 0 information, 1 warning, 2 question. Returns false
    // when it cannot show one (the core then writes to stderr); answer is
    // true for OK or Yes.
    bool (*messageBox)(WWindowContext* owner, const char* text, const char* caption, int kind, bool& answer) = nullptr;

    HCURSOR (*loadCursor)(int type) = nullptr;
};
