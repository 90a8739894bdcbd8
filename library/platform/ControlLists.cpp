// List boxes and combo boxes: rows of text with a user value each, kept
// here; sorted lists insert in case-insensitive order.

#include <algorithm>
#include <optional>
#include <cctype>
#include <cstring>
#include <vector>

#include "internal/ControlSupport.h"

namespace wplat::controls {

namespace {

struct Row {
    std::string text;
    LPARAM data = 0;
};

struct ListState : State {
    bool combo = false;
    std::vector<Row> rows;
    LRESULT selection = -1;
    int top = 0;
};

// The message numbers of one kind of list.
struct Messages {
    UINT add, insert, remove, reset, setSel, getSel, getText, getTextLen, count, find, findExact, getData, setData;
    UINT selChange;
};
const Messages kListBox {LB_ADDSTRING, LB_INSERTSTRING, LB_DELETESTRING, LB_RESETCONTENT, LB_SETCURSEL, LB_GETCURSEL,
    LB_GETTEXT, LB_GETTEXTLEN, LB_GETCOUNT, LB_FINDSTRING, LB_FINDSTRINGEXACT, LB_GETITEMDATA, LB_SETITEMDATA,
    LBN_SELCHANGE};
const Messages kComboBox {CB_ADDSTRING, CB_INSERTSTRING, CB_DELETESTRING, CB_RESETCONTENT, CB_SETCURSEL, CB_GETCURSEL,
    CB_GETLBTEXT, CB_GETLBTEXTLEN, CB_GETCOUNT, CB_FINDSTRING, CB_FINDSTRINGEXACT, CB_GETITEMDATA, CB_SETITEMDATA,
    CBN_SELCHANGE};

// Ours: the drop-down that CB_SHOWDROPDOWN asks for, run from the queue.
constexpr UINT kDropDownLater = WM_USER + 0x1FF;

bool lessNoCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
        [](char x, char y) { return std::tolower((unsigned char)x) < std::tolower((unsigned char)y); });
}

bool sorted(HWND w, const ListState& s)
{
    return (styleOf(w) & (s.combo ? CBS_SORT : LBS_SORT)) != 0;
}

bool validRow(const ListState& s, WPARAM index)
{
    return (intptr_t)index >= 0 && (size_t)index < s.rows.size();
}

// The combo box shows the selected row as its text.
void showSelection(HWND w, ListState& s)
{
    if (s.combo)
        defWindowProc(w, WM_SETTEXT, 0, (LPARAM)(s.selection >= 0 ? s.rows[(size_t)s.selection].text.c_str() : ""));
    invalidateRect(w, nullptr, true);
}

// Rows from after `start` round to `start` itself; -1 starts at row 0.
LRESULT findRow(const ListState& s, WPARAM start, const std::string& text, bool exact)
{
    size_t n = s.rows.size();
    if (n == 0) return -1;
    size_t first = (intptr_t)start < 0 || (size_t)start >= n ? 0 : (size_t)start + 1;
    for (size_t k = 0; k < n; k++) {
        size_t i = (first + k) % n;
        const std::string& row = s.rows[i].text;
        if (exact ? equalsNoCase(row, text) : startsWithNoCase(row, text)) return (LRESULT)i;
    }
    return -1;
}

void userSelect(HWND w, ListState& s, LRESULT row, const Messages& msgs)
{
    if (row < 0 || (size_t)row >= s.rows.size() || row == s.selection) return;
    s.selection = row;
    showSelection(w, s);
    if (s.combo || (styleOf(w) & LBS_NOTIFY) != 0) notifyCommand(w, msgs.selChange);
}

void paintList(HWND w, ListState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    COLORREF text;
    fillBackground(w, WM_CTLCOLORLISTBOX, dc, r, COLOR_WINDOW, text);
    drawFrame(dc, r, RGB(0x80, 0x80, 0x80));
    selectFont(w, dc);
    int h = lineHeight(w);
    if (s.combo) {
        std::string shown = getWindowText(w);
        drawTextLine(dc, 3, (r.bottom - h) / 2, shown, text);
        int ax = r.right - 12;
        int ay = r.bottom / 2 - 2;
        for (int k = 0; k < 4; k++)
            fillSolid(dc, RECT {ax + k, ay + k, ax + 8 - k, ay + k + 1}, text);
    } else {
        for (size_t i = (size_t)std::max(s.top, 0); i < s.rows.size(); i++) {
            int y = 1 + (int)(i - (size_t)s.top) * h;
            if (y > r.bottom) break;
            COLORREF color = text;
            if ((LRESULT)i == s.selection) {
                fillSolid(dc, RECT {1, y, r.right - 1, y + h}, RGB(0x33, 0x99, 0xFF));
                color = RGB(0xFF, 0xFF, 0xFF);
            }
            drawTextLine(dc, 3, y, s.rows[i].text, color);
        }
    }
}

// The combo box's choices as a pop-up menu under it.
void dropDown(HWND w, ListState& s)
{
    if (s.rows.empty()) return;
    notifyCommand(w, CBN_DROPDOWN);
    HMENU menu = createPopupMenu();
    for (size_t i = 0; i < s.rows.size(); i++)
        appendMenu(menu, MF_STRING | ((LRESULT)i == s.selection ? MF_CHECKED : 0), i + 1, s.rows[i].text.c_str());
    RECT r;
    getWindowRect(w, r);
    UINT_PTR chosen = trackPopupMenu(menu, TPM_LEFTALIGN | TPM_RETURNCMD, r.left, r.bottom, w);
    destroyMenu(menu);
    notifyCommand(w, CBN_CLOSEUP);
    if (chosen != 0) userSelect(w, s, (LRESULT)chosen - 1, kComboBox);
}

// Items: adding, finding, reading and removing them, their data and the selection.
std::optional<LRESULT> itemMessage(HWND w, ListState* s, const Messages& msgs, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == msgs.add || m == msgs.insert) {
        Row row {textArg(lp), 0};
        size_t at = s->rows.size();
        if (m == msgs.add && sorted(w, *s)) {
            at = (size_t)(std::upper_bound(s->rows.begin(), s->rows.end(), row, [](const Row& a, const Row& b) {
                return lessNoCase(a.text, b.text);
            }) - s->rows.begin());
        } else if (m == msgs.insert && (intptr_t)wp >= 0) {
            if ((size_t)wp > s->rows.size()) return -1;
            at = (size_t)wp;
        }
        s->rows.insert(s->rows.begin() + (ptrdiff_t)at, row);
        if (s->selection >= (LRESULT)at) s->selection++;
        invalidateRect(w, nullptr, true);
        return (LRESULT)at;
    }
    if (m == msgs.remove) {
        if (!validRow(*s, wp)) return -1;
        s->rows.erase(s->rows.begin() + (ptrdiff_t)wp);
        if (s->selection == (LRESULT)wp) {
            s->selection = -1;
            showSelection(w, *s);
        } else if (s->selection > (LRESULT)wp) {
            s->selection--;
        }
        invalidateRect(w, nullptr, true);
        return (LRESULT)s->rows.size();
    }
    if (m == msgs.reset) {
        s->rows.clear();
        s->selection = -1;
        s->top = 0;
        showSelection(w, *s);
        return 0;
    }
    if (m == msgs.setSel) {
        s->selection = validRow(*s, wp) ? (LRESULT)wp : -1;
        showSelection(w, *s);
        return s->selection >= 0 || (intptr_t)wp == -1 ? s->selection : -1;
    }
    if (m == msgs.getSel) return s->selection;
    if (m == msgs.getTextLen) return validRow(*s, wp) ? (LRESULT)s->rows[wp].text.size() : -1;
    if (m == msgs.getText) {
        if (!validRow(*s, wp) || lp == 0) return -1;
        const std::string& t = s->rows[wp].text;
        memcpy((char*)lp, t.c_str(), t.size() + 1);
        return (LRESULT)t.size();
    }
    if (m == msgs.count) return (LRESULT)s->rows.size();
    if (m == msgs.find || m == msgs.findExact) return findRow(*s, wp, textArg(lp), m == msgs.findExact);
    if (m == msgs.getData) return validRow(*s, wp) ? s->rows[wp].data : -1;
    if (m == msgs.setData) {
        if (!validRow(*s, wp)) return -1;
        s->rows[wp].data = lp;
        return 1;
    }
    return std::nullopt;
}

// Scrolling, the drop-down, input and painting.
std::optional<LRESULT> viewMessage(HWND w, ListState* s, bool combo, const Messages& msgs, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case LB_GETTOPINDEX:
        return combo ? -1 : s->top;
    case LB_SETTOPINDEX:
        if (combo || !validRow(*s, wp)) return -1;
        s->top = (int)wp;
        invalidateRect(w, nullptr, true);
        return 0;
    case CB_SHOWDROPDOWN:
        // The caller goes on at once; the choice runs from the queue.
        if (combo && wp != 0) postMessage(w, kDropDownLater, 0, 0);
        return 1;
    case kDropDownLater:
        if (combo) dropDown(w, *s);
        return 0;
    case CB_GETDROPPEDSTATE:
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        setFocus(w);
        if (combo) {
            dropDown(w, *s);
            return 0;
        }
        int h = lineHeight(w);
        LRESULT row = s->top + (GET_Y_LPARAM(lp) - 1) / h;
        userSelect(w, *s, row, msgs);
        if (m == WM_LBUTTONDBLCLK && row == s->selection && (styleOf(w) & LBS_NOTIFY) != 0)
            notifyCommand(w, LBN_DBLCLK);
        return 0;
    }
    case WM_KEYDOWN: {
        LRESULT n = (LRESULT)s->rows.size();
        LRESULT next = s->selection;
        if (wp == VK_DOWN)
            next = std::min(n - 1, s->selection + 1);
        else if (wp == VK_UP)
            next = s->selection < 0 ? 0 : std::max<LRESULT>(0, s->selection - 1);
        else if (wp == VK_HOME)
            next = 0;
        else if (wp == VK_END)
            next = n - 1;
        else if (wp == VK_SPACE && combo)
            dropDown(w, *s);
        userSelect(w, *s, next, msgs);
        return 0;
    }
    case WM_CHAR: {
        // Typing a letter picks the next row that begins with it.
        if (wp < 0x20) return 0;
        LRESULT row = findRow(*s, (WPARAM)s->selection, std::string(1, (char)wp), false);
        userSelect(w, *s, row, msgs);
        return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SIZE:
        invalidateRect(w, nullptr, true);
        return 0;
    case WM_PAINT:
        paintList(w, *s);
        return 0;
    default:
        break;
    }
    return std::nullopt;
}

LRESULT listProc(HWND w, UINT m, WPARAM wp, LPARAM lp, bool combo)
{
    ListState* s = trackState<ListState>(w, m, [combo] {
        auto* made = new ListState;
        made->combo = combo;
        return made;
    });
    if (s == nullptr) return defWindowProc(w, m, wp, lp);
    const Messages& msgs = combo ? kComboBox : kListBox;
    if (std::optional<LRESULT> answer = itemMessage(w, s, msgs, m, wp, lp)) return *answer;
    if (std::optional<LRESULT> answer = viewMessage(w, s, combo, msgs, m, wp, lp)) return *answer;
    return defWindowProc(w, m, wp, lp);
}

} // namespace

LRESULT listBoxProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return listProc(w, m, wp, lp, false);
}

LRESULT comboBoxProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return listProc(w, m, wp, lp, true);
}

} // namespace wplat::controls
