// The dialog manager: dialogs from templates in dialog units, their items
// created before WM_INITDIALOG, modal loops of our own and the keyboard
// interface (tab stops, default and cancel buttons).

#include <cstring>
#include <map>
#include <mutex>

#include "internal/Core.h"
#include "internal/WindowTable.h"

namespace wplat {

namespace {

const char* const kDialogClass = "#32770";

struct DialogState {
    bool ended = false;
    intptr_t result = 0;
    HFONT font = nullptr;
    HWND lastFocus = nullptr;
};

std::mutex& g_dialogLock = *new std::mutex;
std::map<int, const DialogTemplate*>& g_templates = *new std::map<int, const DialogTemplate*>;
std::map<HWND, DialogState>& g_dialogs = *new std::map<HWND, DialogState>;

DialogState* stateOf(HWND dialog)
{
    std::lock_guard<std::mutex> guard(g_dialogLock);
    auto it = g_dialogs.find(dialog);
    return it == g_dialogs.end() ? nullptr : &it->second;
}

int mulDiv(int value, int numerator, int denominator)
{
    long long v = (long long)value * numerator;
    return (int)(v >= 0 ? (v + denominator / 2) / denominator : -((-v + denominator / 2) / denominator));
}

bool returnsValueDirectly(UINT message)
{
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return true;
    default:
        return false;
    }
}

// The class procedure of every dialog: the dialog's own procedure first,
// then what the platform's dialog manager does by default.
LRESULT dialogClassProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto proc = (WNDPROC)getWindowLongPtr(dialog, DWLP_DLGPROC);
    if (proc != nullptr) {
        setWindowLongPtr(dialog, DWLP_MSGRESULT, 0);
        LRESULT handled = detail::callProc(proc, dialog, message, wParam, lParam);
        if (!isWindow(dialog)) return handled;
        if (handled != 0) return returnsValueDirectly(message) ? handled : getWindowLongPtr(dialog, DWLP_MSGRESULT);
    }
    switch (message) {
    case WM_ERASEBKGND: {
        auto brush = (HBRUSH)sendMessage(dialog, WM_CTLCOLORDLG, wParam, (LPARAM)dialog);
        RECT r;
        getClientRect(dialog, r);
        fillRect((HDC)wParam, r, brush != nullptr ? brush : getSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_CLOSE:
        postMessage(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)getDlgItem(dialog, IDCANCEL));
        return 0;
    case WM_SETFOCUS: {
        DialogState* s = stateOf(dialog);
        HWND target
            = s != nullptr && isChild(dialog, s->lastFocus) ? s->lastFocus : getNextDlgTabItem(dialog, nullptr, false);
        if (target != nullptr) setFocus(target);
        return 0;
    }
    case WM_NCDESTROY: {
        std::lock_guard<std::mutex> guard(g_dialogLock);
        auto it = g_dialogs.find(dialog);
        if (it != g_dialogs.end()) {
            if (it->second.font != nullptr) deleteObject((HGDIOBJ)it->second.font);
            g_dialogs.erase(it);
        }
        return 0;
    }
    default:
        return defWindowProc(dialog, message, wParam, lParam);
    }
}

void ensureClass()
{
    WindowClass cls;
    if (getClassInfo(kDialogClass, cls)) return;
    cls.name = kDialogClass;
    cls.proc = dialogClassProc;
    cls.style = CS_DBLCLKS;
    registerClass(cls);
}

// The child of the dialog that holds the focus (or null).
HWND focusedItem(HWND dialog)
{
    HWND focus = getFocus();
    while (focus != nullptr && getParent(focus) != dialog && isChild(dialog, focus))
        focus = getParent(focus);
    return focus != nullptr && getParent(focus) == dialog ? focus : nullptr;
}

void focusItem(HWND dialog, HWND item)
{
    if (item == nullptr) return;
    setFocus(item);
    DialogState* s = stateOf(dialog);
    if (s != nullptr) s->lastFocus = item;
    if ((sendMessage(item, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) sendMessage(item, EM_SETSEL, 0, -1);
}

} // namespace

void registerDialogTemplate(int id, const DialogTemplate* dialogTemplate)
{
    std::lock_guard<std::mutex> guard(g_dialogLock);
    g_templates[id] = dialogTemplate;
}

const DialogTemplate* findDialogTemplate(int id)
{
    std::lock_guard<std::mutex> guard(g_dialogLock);
    auto it = g_templates.find(id);
    return it == g_templates.end() ? nullptr : it->second;
}

HWND createDialogIndirectParam(HINSTANCE instance, const DialogTemplate& t, HWND owner, WNDPROC proc, LPARAM param)
{
    ensureClass();
    LOGFONT lf {};
    lf.lfHeight = -mulDiv(t.fontPoints > 0 ? t.fontPoints : 8, screenDpi(), 72);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    strncpy(lf.lfFaceName, t.fontFace != nullptr ? t.fontFace : "MS Shell Dlg", 31);
    HFONT font = createFontIndirect(lf);
    SIZE units = getFontBaseUnits(font);
    int width = mulDiv(t.cx, units.cx, 4);
    int height = mulDiv(t.cy, units.cy, 8);
    int x = mulDiv(t.x, units.cx, 4);
    int y = mulDiv(t.y, units.cy, 8);
    if ((t.style & DS_CENTER) != 0) {
        RECT area {0, 0, 1024, 768};
        if (owner != nullptr && isWindowVisible(owner))
            getWindowRect(owner, area);
        else if (detail::backend() != nullptr)
            area = detail::backend()->screenArea();
        x = area.left + (area.right - area.left - width) / 2;
        y = area.top + (area.bottom - area.top - height) / 2;
    }
    HWND dialog = createWindowEx(t.exStyle, kDialogClass, t.caption != nullptr ? t.caption : "",
        t.style & ~(DWORD)WS_VISIBLE, x, y, width, height, owner, nullptr, instance, nullptr);
    if (dialog == nullptr) {
        deleteObject((HGDIOBJ)font);
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(g_dialogLock);
        g_dialogs[dialog].font = font;
    }
    setWindowLongPtr(dialog, DWLP_DLGPROC, (LONG_PTR)proc);
    for (int i = 0; i < t.itemCount; i++) {
        const DialogItemTemplate& item = t.items[i];
        HWND made
            = createWindowEx(item.exStyle, item.className, item.text != nullptr ? item.text : "", item.style | WS_CHILD,
                mulDiv(item.x, units.cx, 4), mulDiv(item.y, units.cy, 8), mulDiv(item.cx, units.cx, 4),
                mulDiv(item.cy, units.cy, 8), dialog, (HMENU)(intptr_t)item.id, instance, nullptr);
        if (made == nullptr) {
            destroyWindow(dialog);
            return nullptr;
        }
        sendMessage(made, WM_SETFONT, (WPARAM)font, 0);
    }
    HWND first = getNextDlgTabItem(dialog, nullptr, false);
    if (sendMessage(dialog, WM_INITDIALOG, (WPARAM)first, param) != 0 && isWindow(dialog)) focusItem(dialog, first);
    if (!isWindow(dialog)) return nullptr;
    if ((t.style & WS_VISIBLE) != 0) showWindow(dialog, SW_SHOWNORMAL);
    return dialog;
}

HWND createDialogParam(HINSTANCE instance, int id, HWND owner, WNDPROC proc, LPARAM param)
{
    const DialogTemplate* t = findDialogTemplate(id);
    if (t == nullptr) return nullptr;
    return createDialogIndirectParam(instance, *t, owner, proc, param);
}

intptr_t dialogBoxParam(HINSTANCE instance, int id, HWND owner, WNDPROC proc, LPARAM param)
{
    HWND dialog = createDialogParam(instance, id, owner, proc, param);
    if (dialog == nullptr) return -1;
    bool ownerWasEnabled = owner != nullptr && isWindowEnabled(owner);
    if (ownerWasEnabled) enableWindow(owner, false);
    DialogState* s = stateOf(dialog);
    if (s != nullptr && !s->ended) showWindow(dialog, SW_SHOWNORMAL);
    MSG msg;
    for (;;) {
        s = stateOf(dialog);
        if (s == nullptr || s->ended) break;
        if (!getMessage(msg, nullptr)) {
            // The quit message is for the program's own loop.
            postQuitMessage((int)msg.wParam);
            break;
        }
        if (!isDialogMessage(dialog, msg)) {
            translateMessage(msg);
            dispatchMessage(msg);
        }
    }
    s = stateOf(dialog);
    intptr_t result = s != nullptr ? s->result : 0;
    if (ownerWasEnabled) enableWindow(owner, true);
    destroyWindow(dialog);
    return result;
}

bool endDialog(HWND dialog, intptr_t result)
{
    DialogState* s = stateOf(dialog);
    if (s == nullptr) return false;
    s->ended = true;
    s->result = result;
    showWindow(dialog, SW_HIDE);
    // Wake the modal loop.
    postMessage(dialog, WM_NULL, 0, 0);
    return true;
}

bool isDialogMessage(HWND dialog, MSG& msg)
{
    if (!isWindow(dialog) || msg.hwnd == nullptr || (msg.hwnd != dialog && !isChild(dialog, msg.hwnd))) return false;
    if (msg.message == WM_KEYDOWN) {
        LRESULT code = sendMessage(msg.hwnd, WM_GETDLGCODE, msg.wParam, (LPARAM)&msg);
        if ((code & DLGC_WANTALLKEYS) == 0) {
            switch (msg.wParam) {
            case VK_TAB:
                if ((code & DLGC_WANTTAB) == 0) {
                    bool back = (getKeyState(VK_SHIFT) & 0x8000) != 0;
                    focusItem(dialog, getNextDlgTabItem(dialog, focusedItem(dialog), back));
                    return true;
                }
                break;
            case VK_RETURN: {
                int id = IDOK;
                LRESULT def = sendMessage(dialog, DM_GETDEFID, 0, 0);
                if (HIWORD((uintptr_t)def) == DC_HASDEFID) id = (int)LOWORD((uintptr_t)def);
                HWND item = getDlgItem(dialog, id);
                if (item == nullptr || isWindowEnabled(item))
                    sendMessage(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)item);
                return true;
            }
            case VK_ESCAPE:
                sendMessage(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)getDlgItem(dialog, IDCANCEL));
                return true;
            default:
                break;
            }
        }
    }
    translateMessage(msg);
    dispatchMessage(msg);
    return true;
}

bool mapDialogRect(HWND dialog, RECT& rect)
{
    DialogState* s = stateOf(dialog);
    if (s == nullptr) return false;
    SIZE units = getFontBaseUnits(s->font);
    rect.left = mulDiv(rect.left, units.cx, 4);
    rect.right = mulDiv(rect.right, units.cx, 4);
    rect.top = mulDiv(rect.top, units.cy, 8);
    rect.bottom = mulDiv(rect.bottom, units.cy, 8);
    return true;
}

} // namespace wplat
