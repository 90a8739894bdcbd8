#pragma once

// The per-window record and the generation-checked handle table.

#include "Core.h"

namespace wplat::detail {

// Show without activating (the platform's SW_SHOWNA).
constexpr int SW_SHOWNA_INTERNAL = 8;

struct Window {
    HWND handle = nullptr;
    std::shared_ptr<WindowClass> cls;
    std::shared_ptr<ThreadQueue> owner;
    WNDPROC proc = nullptr;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    LONG_PTR dialogSlots[3] = {0, 0, 0};
    DWORD style = 0;
    DWORD exStyle = 0;
    HINSTANCE instance = nullptr;
    // The parent of a child, the owner of a top-level.
    HWND parent = nullptr;
    // In z-order: first created on top.
    std::vector<HWND> children;
    std::string text;
    HFONT font = nullptr;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool visible = false;
    bool enabled = true;
    int showState = SW_SHOWNORMAL;
    // The state a minimised window goes back to.
    int restoreState = SW_SHOWNORMAL;
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    HMENU menu = nullptr;
    int menuHeight = 0;
    // Taken off the right and bottom of the client area for the window's own
    // scroll bars, as the style said at the last frame change.
    SIZE barRoom {0, 0};
    // The frame needs drawing (WM_NCPAINT before the next paint).
    bool frameDirty = true;
    bool destroying = false;
    bool trackLeave = false;
    Region invalid;
    bool eraseNeeded = false;
    bool painting = false;
    PixelImage backing;
    std::unique_ptr<View> view;
    std::map<std::string, void*> props;
};

HWND addWindow(const std::shared_ptr<Window>& window);
void removeWindow(HWND handle);
std::shared_ptr<Window> findWindow(HWND handle);
std::vector<std::shared_ptr<Window>> allWindows();
LRESULT callProc(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
RECT clientRect(const Window& w);
// The client size as WM_SIZE carries it.
LPARAM clientSizeParam(const Window& w);
// Takes the room of the window's own scroll bars from its style; whether it changed.
bool takeBarRoom(Window& w);
// The corner between the window's own two bars (empty unless both show).
RECT sizeBoxRect(const Window& w);
POINT clientOrigin(const std::shared_ptr<Window>& w);
// The backing image sized to the client area (contents kept where they fit).
PixelImage& backingImage(Window& w);

} // namespace wplat::detail
