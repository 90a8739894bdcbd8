// Push buttons, check boxes, radio buttons, group boxes and static texts.
// The check state lives here; check boxes and radio buttons that are not
// automatic never change it themselves.

#include <optional>

#include "internal/ControlSupport.h"

namespace wplat::controls {

namespace {

struct ButtonState : State {
    WPARAM check = BST_UNCHECKED;
    bool pushed = false;
    bool tracking = false;
};

DWORD buttonType(HWND w)
{
    return styleOf(w) & BS_TYPEMASK;
}

bool isRadio(DWORD type)
{
    return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

bool hasCheck(DWORD type)
{
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE
        || isRadio(type);
}

// An automatic radio button clears the others of its group: the siblings
// from the group's first control (WS_GROUP) up to the next group.
void clearRadioGroup(HWND button)
{
    HWND parent = getParent(button);
    if (parent == nullptr) return;
    HWND first = button;
    for (HWND h = button; h != nullptr; h = getWindow(h, GW_HWNDPREV)) {
        first = h;
        if ((styleOf(h) & WS_GROUP) != 0) break;
    }
    for (HWND h = first; h != nullptr; h = getWindow(h, GW_HWNDNEXT)) {
        if (h != first && (styleOf(h) & WS_GROUP) != 0) break;
        if (h != button && getClassName(h) == "BUTTON" && buttonType(h) == BS_AUTORADIOBUTTON)
            sendMessage(h, BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

void click(HWND w)
{
    ButtonState* s = stateOf<ButtonState>(w);
    if (s == nullptr) return;
    switch (buttonType(w)) {
    case BS_AUTOCHECKBOX:
        sendMessage(w, BM_SETCHECK, s->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
        break;
    case BS_AUTO3STATE:
        sendMessage(w, BM_SETCHECK, (s->check + 1) % 3, 0);
        break;
    case BS_AUTORADIOBUTTON:
        sendMessage(w, BM_SETCHECK, BST_CHECKED, 0);
        clearRadioGroup(w);
        break;
    default:
        break;
    }
    notifyCommand(w, BN_CLICKED);
}

// A tick inside the check box, two pixels thick.
void drawCheckMark(HDC dc, const RECT& box, COLORREF color)
{
    int x = box.left + 3;
    int y = box.top + 6;
    // Down two steps to the right, then up four.
    for (int i = 0; i < 3; i++, x++, y++)
        fillSolid(dc, RECT {x, y, x + 1, y + 2}, color);
    y -= 2;
    for (int i = 0; i < 5; i++, x++, y--)
        fillSolid(dc, RECT {x, y, x + 1, y + 2}, color);
}

void paintButton(HWND w, ButtonState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    DWORD type = buttonType(w);
    bool enabled = isWindowEnabled(w);
    COLORREF text = getSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
    COLORREF textFromParent = text;
    fillBackground(w, WM_CTLCOLORBTN, dc, r, COLOR_BTNFACE, textFromParent);
    selectFont(w, dc);
    std::string label = getWindowText(w);
    int h = lineHeight(w);
    bool focused = getFocus() == w;
    setBkMode(dc, TRANSPARENT);
    setTextColor(dc, text);
    // Labels show their '&' prefixes underlined, as the platform draws them.
    auto labelWidth = [&] {
        RECT measure {0, 0, 0, 0};
        drawText(dc, label.c_str(), (int)label.size(), measure, DT_SINGLELINE | DT_CALCRECT);
        return (int)measure.right;
    };
    if (hasCheck(type)) {
        int box = 13;
        int by = (r.bottom - box) / 2;
        RECT b {1, by, 1 + box, by + box};
        fillSolid(dc, b, getSysColor(COLOR_WINDOW));
        drawFrame(dc, b, RGB(0x70, 0x70, 0x70));
        if (s.check == BST_CHECKED)
            drawCheckMark(dc, b, text);
        else if (s.check == BST_INDETERMINATE)
            fillSolid(dc, RECT {b.left + 3, b.top + 5, b.right - 3, b.bottom - 5}, text);
        RECT area {box + 5, 0, r.right, r.bottom};
        drawText(dc, label.c_str(), (int)label.size(), area, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
        if (focused && !label.empty()) {
            int top = (r.bottom - h) / 2;
            drawFocusRect(dc, RECT {box + 3, top - 1, std::min((int)r.right, box + 7 + labelWidth()), top + h + 1});
        }
    } else if (type == BS_GROUPBOX) {
        drawFrame(dc, RECT {0, h / 2, r.right, r.bottom}, RGB(0xA0, 0xA0, 0xA0));
        int tw = labelWidth();
        if (!label.empty()) fillSolid(dc, RECT {6, 0, 10 + tw, h}, getSysColor(COLOR_BTNFACE));
        RECT area {8, 0, r.right, h};
        drawText(dc, label.c_str(), (int)label.size(), area, DT_SINGLELINE | DT_LEFT);
    } else {
        if (s.pushed) fillSolid(dc, RECT {1, 1, r.right - 1, r.bottom - 1}, RGB(0xC8, 0xC8, 0xC8));
        drawFrame(dc, r, type == BS_DEFPUSHBUTTON ? RGB(0x30, 0x30, 0x30) : RGB(0x80, 0x80, 0x80));
        int shift = s.pushed ? 1 : 0;
        RECT area {shift, shift, r.right + shift, r.bottom + shift};
        drawText(dc, label.c_str(), (int)label.size(), area, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        if (focused) drawFocusRect(dc, RECT {3, 3, r.right - 3, r.bottom - 3});
    }
}

} // namespace

namespace {

// Check state, pushed state, style and clicks asked for by the program.
std::optional<LRESULT> buttonStateMessage(HWND w, ButtonState* s, DWORD type, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case BM_GETCHECK:
        return hasCheck(type) ? (LRESULT)s->check : 0;
    case BM_SETCHECK: {
        WPARAM next = wp;
        if (next == BST_INDETERMINATE && type != BS_3STATE && type != BS_AUTO3STATE) next = BST_CHECKED;
        if (next > BST_INDETERMINATE) next = BST_UNCHECKED;
        if (hasCheck(type) && next != s->check) {
            s->check = next;
            invalidateRect(w, nullptr, true);
        }
        return 0;
    }
    case BM_GETSTATE:
        return (LRESULT)(hasCheck(type) ? s->check : 0) | (s->pushed ? BST_PUSHED : 0)
            | (getFocus() == w ? BST_FOCUS : 0);
    case BM_SETSTATE:
        if (s->pushed != (wp != 0)) {
            s->pushed = wp != 0;
            invalidateRect(w, nullptr, true);
        }
        return 0;
    case BM_SETSTYLE:
        setWindowLongPtr(w, GWL_STYLE, (LONG_PTR)((styleOf(w) & ~BS_TYPEMASK) | ((DWORD)wp & BS_TYPEMASK)));
        if (lp != 0) invalidateRect(w, nullptr, true);
        return 0;
    case BM_CLICK:
        if (isWindowEnabled(w)) click(w);
        return 0;
    default:
        break;
    }
    return std::nullopt;
}

// Mouse, keyboard, and what makes the button paint itself again.
std::optional<LRESULT> buttonInputMessage(HWND w, ButtonState* s, DWORD type, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_GETDLGCODE:
        if (type == BS_GROUPBOX) return DLGC_STATIC;
        if (isRadio(type)) return DLGC_BUTTON | DLGC_RADIOBUTTON;
        if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        if (type == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        return DLGC_BUTTON;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (type == BS_GROUPBOX) return 0;
        setFocus(w);
        setCapture(w);
        s->tracking = true;
        sendMessage(w, BM_SETSTATE, 1, 0);
        return 0;
    case WM_MOUSEMOVE:
        if (s->tracking) {
            RECT r;
            getClientRect(w, r);
            int x = GET_X_LPARAM(lp);
            int y = GET_Y_LPARAM(lp);
            sendMessage(w, BM_SETSTATE, x >= 0 && y >= 0 && x < r.right && y < r.bottom, 0);
        }
        return 0;
    case WM_LBUTTONUP:
        if (s->tracking) {
            s->tracking = false;
            releaseCapture();
            bool inside = s->pushed;
            sendMessage(w, BM_SETSTATE, 0, 0);
            if (inside) click(w);
        }
        return 0;
    case WM_KEYDOWN:
        if (wp == VK_SPACE && type != BS_GROUPBOX) sendMessage(w, BM_SETSTATE, 1, 0);
        return 0;
    case WM_KEYUP:
        if (wp == VK_SPACE && s->pushed) {
            sendMessage(w, BM_SETSTATE, 0, 0);
            click(w);
        }
        return 0;
    case WM_SETTEXT:
    case WM_ENABLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        return defaultThenRepaint(w, m, wp, lp);
    case WM_PAINT:
        paintButton(w, *s);
        return 0;
    default:
        break;
    }
    return std::nullopt;
}

} // namespace

LRESULT buttonProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    ButtonState* s = trackState<ButtonState>(w, m);
    if (s == nullptr) return defWindowProc(w, m, wp, lp);
    DWORD type = buttonType(w);
    for (auto group : {buttonStateMessage, buttonInputMessage}) {
        if (std::optional<LRESULT> answer = group(w, s, type, m, wp, lp)) return *answer;
    }
    return defWindowProc(w, m, wp, lp);
}

LRESULT staticProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_LBUTTONDOWN:
        if ((styleOf(w) & SS_NOTIFY) != 0) notifyCommand(w, STN_CLICKED);
        return 0;
    case WM_SETTEXT:
    case WM_ENABLE:
        return defaultThenRepaint(w, m, wp, lp);
    case WM_PAINT: {
        ControlPaint paint(w);
        HDC dc = paint.dc();
        if (dc == nullptr) return 0;
        RECT r = paint.client();
        COLORREF text;
        fillBackground(w, WM_CTLCOLORSTATIC, dc, r, COLOR_BTNFACE, text);
        selectFont(w, dc);
        std::string label = getWindowText(w);
        DWORD align = styleOf(w) & 0x1F;
        UINT format = DT_WORDBREAK | (align == SS_CENTER ? DT_CENTER : align == SS_RIGHT ? DT_RIGHT : DT_LEFT);
        if ((styleOf(w) & 0x80) != 0) // SS_NOPREFIX
            format |= DT_NOPREFIX;
        setBkMode(dc, TRANSPARENT);
        setTextColor(dc, isWindowEnabled(w) ? text : getSysColor(COLOR_GRAYTEXT));
        drawText(dc, label.c_str(), (int)label.size(), r, format);
        return 0;
    }
    default:
        break;
    }
    return defWindowProc(w, m, wp, lp);
}

} // namespace wplat::controls
