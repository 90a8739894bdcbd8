#include "FallbackControls.h"

#include <string>

#include "Platform.h"
#if __has_include("Controls.h")
#include "Controls.h"
#define ZORVANE_HAVE_CONTROL_CLASSES 1
#endif

namespace {

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr DWORD BS_TYPEMASK = 0x000Fu;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003u;
constexpr DWORD BS_CHECKBOX = 0x0002u;
const char* const CHECK_PROP = "zorvane.check";

DWORD styleOf(HWND w)
{
    return (DWORD)wplat::getWindowLongPtr(w, GWL_STYLE);
}

bool isCheckBox(HWND w)
{
    DWORD kind = styleOf(w) & BS_TYPEMASK;
    return kind == BS_AUTOCHECKBOX || kind == BS_CHECKBOX;
}

void notifyParent(HWND w, UINT code)
{
    HWND parent = wplat::getParent(w);
    if (parent != nullptr)
        wplat::sendMessage(parent, WM_COMMAND, MAKEWPARAM(wplat::getDlgCtrlID(w), (int)code), (LPARAM)w);
}

void paint(HWND w, const char* kind)
{
    PAINTSTRUCT ps;
    HDC dc = wplat::beginPaint(w, ps);
    RECT area;
    wplat::getClientRect(w, area);
    std::string text = wplat::getWindowText(w);
    bool enabled = wplat::isWindowEnabled(w);
    HWND parent = wplat::getParent(w);
    std::string k = kind;
    COLORREF back = wplat::getSysColor(COLOR_BTNFACE);
    HBRUSH brush = nullptr;
    if (k == "EDIT") {
        back = 0xFFFFFF;
        if (parent != nullptr)
            brush = (HBRUSH)wplat::sendMessage(parent, WM_CTLCOLOREDIT, (WPARAM)dc, (LPARAM)w);
    } else if (k == "STATIC" && parent != nullptr) {
        brush = (HBRUSH)wplat::sendMessage(parent, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)w);
    }
    if (brush != nullptr)
        wplat::fillRect(dc, area, brush);
    else
        wplat::fillSolid(dc, area, back);
    wplat::setBkMode(dc, TRANSPARENT);
    if (!enabled)
        wplat::setTextColor(dc, wplat::getSysColor(COLOR_GRAYTEXT));
    RECT textArea = area;
    if (k == "EDIT") {
        wplat::rectangle(dc, area.left, area.top, area.right, area.bottom);
        textArea.left += 3;
        wplat::drawText(dc, text.c_str(), (int)text.size(), textArea, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    } else if (k == "BUTTON" && isCheckBox(w)) {
        int box = area.bottom - area.top - 2;
        if (box > 13)
            box = 13;
        RECT r{area.left, area.top + 1, area.left + box, area.top + 1 + box};
        wplat::fillSolid(dc, r, 0xFFFFFF);
        wplat::rectangle(dc, r.left, r.top, r.right, r.bottom);
        if (wplat::getProp(w, CHECK_PROP) != nullptr) {
            RECT mark{r.left + 3, r.top + 3, r.right - 3, r.bottom - 3};
            wplat::fillSolid(dc, mark, 0);
        }
        textArea.left += box + 4;
        wplat::drawText(dc, text.c_str(), (int)text.size(), textArea, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    } else if (k == "BUTTON") {
        wplat::rectangle(dc, area.left, area.top, area.right, area.bottom);
        wplat::drawText(dc, text.c_str(), (int)text.size(), textArea, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    } else {
        wplat::drawText(dc, text.c_str(), (int)text.size(), textArea, DT_LEFT | DT_NOPREFIX);
    }
    wplat::endPaint(w, ps);
}

void click(HWND w)
{
    if (!wplat::isWindowEnabled(w))
        return;
    if ((styleOf(w) & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        bool checked = wplat::getProp(w, CHECK_PROP) != nullptr;
        wplat::setProp(w, CHECK_PROP, checked ? nullptr : (void*)1);
        wplat::invalidateRect(w, nullptr, true);
    }
    notifyParent(w, BN_CLICKED);
}

LRESULT commonProc(const char* kind, HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        paint(w, kind);
        return 0;
    case WM_SETTEXT: {
        LRESULT r = wplat::defWindowProc(w, message, wParam, lParam);
        wplat::invalidateRect(w, nullptr, true);
        return r;
    }
    case WM_ENABLE:
        wplat::invalidateRect(w, nullptr, true);
        return 0;
    default:
        return wplat::defWindowProc(w, message, wParam, lParam);
    }
}

LRESULT editProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case WM_LBUTTONDOWN:
        wplat::setFocus(w);
        return 0;
    case WM_CHAR: {
        std::string text = wplat::getWindowText(w);
        if (wParam == VK_BACK) {
            if (!text.empty())
                text.pop_back();
        } else if (wParam >= 0x20) {
            text += (char)wParam;
        } else {
            return 0;
        }
        wplat::setWindowText(w, text.c_str());
        wplat::invalidateRect(w, nullptr, true);
        notifyParent(w, 0x0300);  // EN_CHANGE
        return 0;
    }
    case EM_SETSEL:
        return 0;
    default:
        return commonProc("EDIT", w, message, wParam, lParam);
    }
}

LRESULT buttonProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETDLGCODE:
        return DLGC_BUTTON | (isCheckBox(w) ? 0 : DLGC_UNDEFPUSHBUTTON);
    case WM_LBUTTONDOWN:
        wplat::setFocus(w);
        return 0;
    case WM_LBUTTONUP:
        click(w);
        return 0;
    case WM_CHAR:
        if (wParam == ' ')
            click(w);
        return 0;
    case BM_GETCHECK:
        return wplat::getProp(w, CHECK_PROP) != nullptr ? 1 : 0;
    case BM_SETCHECK:
        wplat::setProp(w, CHECK_PROP, wParam == 1 ? (void*)1 : nullptr);
        wplat::invalidateRect(w, nullptr, true);
        return 0;
    default:
        return commonProc("BUTTON", w, message, wParam, lParam);
    }
}

LRESULT staticProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE)
        return DLGC_STATIC;
    return commonProc("STATIC", w, message, wParam, lParam);
}

void registerIfMissing(const char* name, WNDPROC proc)
{
    wplat::WindowClass existing;
    if (wplat::getClassInfo(name, existing))
        return;
    wplat::WindowClass cls;
    cls.name = name;
    cls.proc = proc;
    cls.style = CS_DBLCLKS;
    cls.cursor = wplat::loadCursor(IDC_ARROW);
    wplat::registerClass(cls);
}

} // namespace

void registerFallbackControls()
{
#ifdef ZORVANE_HAVE_CONTROL_CLASSES
    wplat::registerControlClasses();
#endif
    registerIfMissing("EDIT", editProc);
    registerIfMissing("BUTTON", buttonProc);
    registerIfMissing("STATIC", staticProc);
}
