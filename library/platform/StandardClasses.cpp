// Window classes every program finds ready: for now the static text,
// painted by us into its backing image.

#include <mutex>

#include "Core.h"

namespace wplat::detail {

namespace {

constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_NOPREFIX = 0x0080;

LRESULT staticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = beginPaint(window, ps);
        RECT r;
        getClientRect(window, r);
        // The parent chooses the colours, as dialogs colour their labels.
        HWND parent = getParent(window);
        auto brush = parent != nullptr ? (HBRUSH)sendMessage(parent, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)window)
                                       : nullptr;
        fillRect(dc, r, brush != nullptr ? brush : getSysColorBrush(COLOR_BTNFACE));
        setBkMode(dc, TRANSPARENT);
        selectObject(dc, (HGDIOBJ)sendMessage(window, WM_GETFONT, 0, 0));
        std::string text = getWindowText(window);
        DWORD style = (DWORD)getWindowLongPtr(window, GWL_STYLE);
        UINT format = DT_WORDBREAK;
        if ((style & 0x1F) == SS_CENTER)
            format |= DT_CENTER;
        else if ((style & 0x1F) == SS_RIGHT)
            format |= DT_RIGHT;
        if ((style & SS_NOPREFIX) != 0)
            format |= DT_NOPREFIX;
        drawText(dc, text.c_str(), (int)text.size(), r, format);
        endPaint(window, ps);
        return 0;
    }
    case WM_SETTEXT: {
        LRESULT r = defWindowProc(window, message, wParam, lParam);
        invalidateRect(window, nullptr, true);
        return r;
    }
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_ERASEBKGND:
        return 1;
    default:
        return defWindowProc(window, message, wParam, lParam);
    }
}

} // namespace

void registerStandardClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WindowClass cls;
        cls.name = "STATIC";
        cls.proc = staticProc;
        registerClass(cls);
    });
}

} // namespace wplat::detail
