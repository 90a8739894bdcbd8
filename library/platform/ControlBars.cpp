// Tab strips, rebars, toolbars and status bars: the controls that arrange
// or decorate other windows.

#include <algorithm>
#include <optional>
#include <cstring>
#include <vector>

#include "internal/ControlSupport.h"

namespace wplat::controls {

namespace {

void copyOut(const std::string& text, char* buffer, int size)
{
    if (buffer == nullptr || size <= 0) return;
    size_t n = std::min(text.size(), (size_t)size - 1);
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// Keeps a bar at its own height whatever size it is given.
struct FixedHeight {
    bool busy = false;
    void enforce(HWND w, int height)
    {
        RECT r;
        getClientRect(w, r);
        if (busy || r.bottom == height) return;
        busy = true;
        setWindowPos(w, nullptr, 0, 0, r.right, height, SWP_NOMOVE | SWP_NOZORDER);
        busy = false;
    }
};

// --- Tabs ------------------------------------------------------------------------

struct Tab {
    std::string text;
    int image = -1;
    LPARAM data = 0;
};

struct TabState : State {
    std::vector<Tab> tabs;
    int selected = -1;
    int focused = -1;
};

const int kTabBorder = 2;

int stripHeight(HWND w)
{
    return lineHeight(w) + 8;
}

int tabWidth(HWND w, const Tab& t)
{
    return textWidth(w, t.text) + 16;
}

int tabAt(HWND w, const TabState& s, int x, int y)
{
    if (y < 0 || y >= stripHeight(w)) return -1;
    int left = 0;
    for (size_t i = 0; i < s.tabs.size(); i++) {
        int width = tabWidth(w, s.tabs[i]);
        if (x >= left && x < left + width) return (int)i;
        left += width;
    }
    return -1;
}

// The user picks a tab: the parent may refuse the change.
void userPick(HWND w, TabState& s, int index)
{
    if (index < 0 || (size_t)index >= s.tabs.size() || index == s.selected) return;
    NMHDR nm {};
    if (notifyParent(w, nm, TCN_SELCHANGING) != 0) return;
    s.selected = s.focused = index;
    invalidateRect(w, nullptr, true);
    NMHDR done {};
    notifyParent(w, done, TCN_SELCHANGE);
}

void paintTabs(HWND w, TabState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    fillSolid(dc, r, getSysColor(COLOR_BTNFACE));
    selectFont(w, dc);
    int sh = stripHeight(w);
    drawFrame(dc, RECT {0, sh - 1, r.right, r.bottom}, RGB(0xA0, 0xA0, 0xA0));
    int left = 0;
    for (size_t i = 0; i < s.tabs.size(); i++) {
        int width = tabWidth(w, s.tabs[i]);
        bool on = (int)i == s.selected;
        RECT t {left, on ? 0 : 2, left + width, sh};
        if (on) fillSolid(dc, t, getSysColor(COLOR_WINDOW));
        drawFrame(dc, RECT {t.left, t.top, t.right, t.bottom + (on ? 0 : 1)}, RGB(0xA0, 0xA0, 0xA0));
        drawTextLine(dc, left + 8, t.top + 3, s.tabs[i].text, getSysColor(COLOR_BTNTEXT));
        left += width;
    }
}

// --- Rebars ----------------------------------------------------------------------

struct Band {
    std::string text;
    UINT style = 0;
    COLORREF fore = 0;
    COLORREF back = 0xFFFFFFFFu;
    HWND child = nullptr;
    UINT minWidth = 0;
    UINT minHeight = 0;
    UINT width = 0;
    HBITMAP background = nullptr;
};

struct RebarState : State {
    bool hasBarInfo = false;
    std::vector<Band> bands;
    FixedHeight fixed;
};

const int kGripper = 8;

int barHeight(const RebarState& s)
{
    UINT h = 0;
    for (const Band& b : s.bands)
        h = std::max(h, b.minHeight);
    return s.bands.empty() ? 0 : (int)h + 4;
}

// Bands side by side in one row; each child sits after its band's label.
void layoutBands(HWND w, RebarState& s)
{
    s.fixed.enforce(w, barHeight(s));
    RECT client;
    getClientRect(w, client);
    int x = 0;
    for (size_t i = 0; i < s.bands.size(); i++) {
        Band& b = s.bands[i];
        int header = kGripper + (b.text.empty() ? 0 : textWidth(w, b.text) + 4);
        int width = std::max((int)b.width, header + (int)b.minWidth);
        if (i + 1 == s.bands.size()) width = std::max(width, (int)client.right - x);
        if (b.child != nullptr && isWindow(b.child)) {
            POINT origin {x + header, 2};
            HWND childParent = getParent(b.child);
            if (childParent != w) {
                clientToScreen(w, origin);
                if (childParent != nullptr) screenToClient(childParent, origin);
            }
            setWindowPos(b.child, nullptr, origin.x, origin.y, std::max(width - header - 2, (int)b.minWidth),
                (int)b.minHeight, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        x += width;
    }
    invalidateRect(w, nullptr, true);
}

void paintRebar(HWND w, RebarState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    fillSolid(dc, r, getSysColor(COLOR_BTNFACE));
    selectFont(w, dc);
    int x = 0;
    for (size_t i = 0; i < s.bands.size(); i++) {
        const Band& b = s.bands[i];
        int header = kGripper + (b.text.empty() ? 0 : textWidth(w, b.text) + 4);
        int width = std::max((int)b.width, header + (int)b.minWidth);
        // The last band reaches to the end, as laid out.
        if (i + 1 == s.bands.size()) width = std::max(width, (int)r.right - x);
        if (b.back != 0xFFFFFFFFu) fillSolid(dc, RECT {x, 0, x + width, r.bottom}, b.back);
        if (b.background != nullptr) {
            // The band's picture, tiled behind its label.
            HBRUSH tiles = createPatternBrush(b.background);
            if (tiles != nullptr) {
                fillRect(dc, RECT {x, 0, x + width, r.bottom}, tiles);
                deleteObject(toObject(tiles));
            }
        }
        fillSolid(dc, RECT {x + 3, 3, x + 5, r.bottom - 3}, RGB(0xA0, 0xA0, 0xA0));
        drawTextLine(dc, x + kGripper, (r.bottom - lineHeight(w)) / 2, b.text, b.fore);
        x += width;
        fillSolid(dc, RECT {x - 1, 0, x, r.bottom}, RGB(0xC0, 0xC0, 0xC0));
    }
}

// --- Toolbars --------------------------------------------------------------------

struct ToolButton {
    TBBUTTON record {};
    std::string label;
};

struct ToolbarState : State {
    UINT structSize = 0;
    std::vector<ToolButton> buttons;
    HIMAGELIST normal = nullptr;
    HIMAGELIST hot = nullptr;
    DWORD exStyle = 0;
    LRESULT version = 0;
    int pressed = -1;
};

int buttonWidth(HWND w, const ToolbarState& s, const ToolButton& b)
{
    if ((b.record.fsStyle & BTNS_SEP) != 0) return b.record.iBitmap > 0 ? b.record.iBitmap : 8;
    int iw = 16, ih = 16;
    if (s.normal != nullptr) imageListGetIconSize(s.normal, iw, ih);
    return iw + 8 + (b.label.empty() ? 0 : textWidth(w, b.label) + 6);
}

int buttonAt(HWND w, const ToolbarState& s, int x)
{
    int left = 0;
    for (size_t i = 0; i < s.buttons.size(); i++) {
        int width = buttonWidth(w, s, s.buttons[i]);
        if (x >= left && x < left + width) return (s.buttons[i].record.fsStyle & BTNS_SEP) != 0 ? -1 : (int)i;
        left += width;
    }
    return -1;
}

void paintToolbar(HWND w, ToolbarState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    fillSolid(dc, r, getSysColor(COLOR_BTNFACE));
    selectFont(w, dc);
    int iw = 16, ih = 16;
    if (s.normal != nullptr) imageListGetIconSize(s.normal, iw, ih);
    int left = 0;
    for (size_t i = 0; i < s.buttons.size(); i++) {
        const ToolButton& b = s.buttons[i];
        int width = buttonWidth(w, s, b);
        if ((b.record.fsStyle & BTNS_SEP) != 0) {
            fillSolid(dc, RECT {left + width / 2, 3, left + width / 2 + 1, r.bottom - 3}, RGB(0xA0, 0xA0, 0xA0));
        } else {
            if ((int)i == s.pressed) drawFrame(dc, RECT {left, 1, left + width, r.bottom - 1}, RGB(0x60, 0x60, 0x60));
            if (s.normal != nullptr) imageListDraw(s.normal, b.record.iBitmap, dc, left + 4, (r.bottom - ih) / 2);
            drawTextLine(dc, left + iw + 8, (r.bottom - lineHeight(w)) / 2, b.label,
                getSysColor((b.record.fsState & TBSTATE_ENABLED) != 0 ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        }
        left += width;
    }
}

// --- Status bars -----------------------------------------------------------------

struct StatusState : State {
    std::vector<int> edges {-1};
    std::vector<std::string> texts {std::string()};
    std::vector<WPARAM> types {0};
    FixedHeight fixed;
};

int statusHeight(HWND w)
{
    return lineHeight(w) + 6;
}

void paintStatus(HWND w, StatusState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    fillSolid(dc, r, getSysColor(COLOR_BTNFACE));
    selectFont(w, dc);
    int left = 0;
    for (size_t i = 0; i < s.edges.size(); i++) {
        int right = s.edges[i] < 0 ? r.right : std::min(s.edges[i], (int)r.right);
        drawFrame(dc, RECT {left, 1, right, r.bottom}, RGB(0xB0, 0xB0, 0xB0));
        drawTextLine(dc, left + 3, 3, s.texts[i], getSysColor(COLOR_BTNTEXT));
        left = right + 2;
    }
}

} // namespace

namespace {

// The tabs: adding, reading and removing them.
std::optional<LRESULT> tabItemMessage(HWND w, TabState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case TCM_INSERTITEMA: {
        const TCITEMA* item = (const TCITEMA*)lp;
        if (item == nullptr || (intptr_t)(int)wp < 0) return -1;
        Tab t;
        if ((item->mask & TCIF_TEXT) != 0 && item->pszText != nullptr) t.text = item->pszText;
        if ((item->mask & TCIF_IMAGE) != 0) t.image = item->iImage;
        if ((item->mask & TCIF_PARAM) != 0) t.data = item->lParam;
        size_t at = std::min((size_t)wp, s->tabs.size());
        s->tabs.insert(s->tabs.begin() + (ptrdiff_t)at, t);
        if (s->tabs.size() == 1) {
            s->selected = s->focused = 0;
        } else {
            if (s->selected >= (int)at) s->selected++;
            if (s->focused >= (int)at) s->focused++;
        }
        invalidateRect(w, nullptr, true);
        return (LRESULT)at;
    }
    case TCM_DELETEITEM:
        if (wp >= s->tabs.size()) return 0;
        s->tabs.erase(s->tabs.begin() + (ptrdiff_t)wp);
        for (int* index : {&s->selected, &s->focused}) {
            if (*index == (int)wp)
                *index = -1;
            else if (*index > (int)wp)
                (*index)--;
        }
        invalidateRect(w, nullptr, true);
        return 1;
    case TCM_DELETEALLITEMS:
        s->tabs.clear();
        s->selected = s->focused = -1;
        invalidateRect(w, nullptr, true);
        return 1;
    case TCM_GETITEMCOUNT:
        return (LRESULT)s->tabs.size();
    case TCM_GETITEMA: {
        TCITEMA* item = (TCITEMA*)lp;
        if (item == nullptr || wp >= s->tabs.size()) return 0;
        const Tab& t = s->tabs[wp];
        if ((item->mask & TCIF_TEXT) != 0) copyOut(t.text, item->pszText, item->cchTextMax);
        if ((item->mask & TCIF_IMAGE) != 0) item->iImage = t.image;
        if ((item->mask & TCIF_PARAM) != 0) item->lParam = t.data;
        return 1;
    }
    default:
        break;
    }
    return std::nullopt;
}

// The chosen and focused tab, and the page area.
std::optional<LRESULT> tabSelectionMessage(HWND w, TabState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case TCM_GETCURSEL:
        return s->selected;
    case TCM_SETCURSEL: {
        int old = s->selected;
        if (wp >= s->tabs.size()) return -1;
        s->selected = (int)wp;
        invalidateRect(w, nullptr, true);
        return old;
    }
    case TCM_GETCURFOCUS:
        return s->focused;
    case TCM_SETCURFOCUS:
        // Set by the program: no notification goes back to it.
        if (wp < s->tabs.size()) {
            s->focused = s->selected = (int)wp;
            invalidateRect(w, nullptr, true);
        }
        return 0;
    case TCM_ADJUSTRECT: {
        RECT* r = (RECT*)lp;
        if (r == nullptr) return 0;
        int sh = stripHeight(w);
        if (wp != 0)
            *r = RECT {r->left - kTabBorder, r->top - kTabBorder - sh, r->right + kTabBorder, r->bottom + kTabBorder};
        else
            *r = RECT {r->left + kTabBorder, r->top + kTabBorder + sh, r->right - kTabBorder, r->bottom - kTabBorder};
        return 0;
    }
    default:
        break;
    }
    return std::nullopt;
}

// Mouse, keyboard and painting.
std::optional<LRESULT> tabInputMessage(HWND w, TabState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case WM_LBUTTONDOWN:
        setFocus(w);
        userPick(w, *s, tabAt(w, *s, GET_X_LPARAM(lp), GET_Y_LPARAM(lp)));
        return 0;
    case WM_KEYDOWN:
        if (wp == VK_LEFT && s->selected > 0)
            userPick(w, *s, s->selected - 1);
        else if (wp == VK_RIGHT)
            userPick(w, *s, s->selected + 1);
        return 0;
    case WM_PAINT:
        paintTabs(w, *s);
        return 0;
    default:
        break;
    }
    return std::nullopt;
}

} // namespace

LRESULT tabProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return answerByGroups<TabState>(w, m, wp, lp, {tabItemMessage, tabSelectionMessage, tabInputMessage});
}

LRESULT rebarProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    RebarState* s = trackState<RebarState>(w, m);
    if (s == nullptr) return defWindowProc(w, m, wp, lp);
    switch (m) {
    case RB_SETBARINFO: {
        const REBARINFO* info = (const REBARINFO*)lp;
        if (info == nullptr || (info->cbSize != kRebarInfoSize32 && info->cbSize != sizeof(REBARINFO))) return 0;
        s->hasBarInfo = true;
        return 1;
    }
    case RB_INSERTBANDA: {
        const REBARBANDINFOA* info = (const REBARBANDINFOA*)lp;
        if (info == nullptr || (info->cbSize != kRebarBandInfoSize32 && info->cbSize != sizeof(REBARBANDINFOA)))
            return 0;
        Band b;
        if ((info->fMask & RBBIM_STYLE) != 0) b.style = info->fStyle;
        if ((info->fMask & RBBIM_COLORS) != 0) {
            b.fore = info->clrFore;
            b.back = info->clrBack;
        }
        if ((info->fMask & RBBIM_TEXT) != 0 && info->lpText != nullptr) b.text = info->lpText;
        if ((info->fMask & RBBIM_CHILD) != 0) b.child = info->hwndChild;
        if ((info->fMask & RBBIM_CHILDSIZE) != 0) {
            b.minWidth = info->cxMinChild;
            b.minHeight = info->cyMinChild;
        }
        if ((info->fMask & RBBIM_SIZE) != 0) b.width = info->cx;
        if ((info->fMask & RBBIM_BACKGROUND) != 0) b.background = info->hbmBack;
        size_t at = (intptr_t)(int)wp < 0 ? s->bands.size() : std::min((size_t)wp, s->bands.size());
        s->bands.insert(s->bands.begin() + (ptrdiff_t)at, b);
        layoutBands(w, *s);
        return 1;
    }
    case RB_DELETEBAND:
        if (wp >= s->bands.size()) return 0;
        s->bands.erase(s->bands.begin() + (ptrdiff_t)wp);
        layoutBands(w, *s);
        return 1;
    case RB_GETBANDCOUNT:
        return (LRESULT)s->bands.size();
    case RB_GETBARHEIGHT:
        return barHeight(*s);
    case WM_SIZE:
        if (!s->fixed.busy) layoutBands(w, *s);
        return 0;
    // The bands' children talk to the rebar's parent.
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_HSCROLL:
    case WM_VSCROLL:
        return getParent(w) != nullptr ? sendMessage(getParent(w), m, wp, lp) : 0;
    case WM_PAINT:
        paintRebar(w, *s);
        return 0;
    default:
        break;
    }
    return defWindowProc(w, m, wp, lp);
}

LRESULT toolbarProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    ToolbarState* s = trackState<ToolbarState>(w, m);
    if (s == nullptr) return defWindowProc(w, m, wp, lp);
    switch (m) {
    case TB_BUTTONSTRUCTSIZE:
        s->structSize = (UINT)wp;
        return 0;
    case TB_ADDBUTTONSA: {
        const TBBUTTON* records = (const TBBUTTON*)lp;
        if (records == nullptr) return 0;
        for (WPARAM i = 0; i < wp; i++) {
            ToolButton b;
            b.record = records[i];
            // A label is a text pointer; small values index a string pool we do not keep.
            if (b.record.iString > 0xFFFF) b.label = (const char*)b.record.iString;
            b.record.iString = b.label.empty() ? -1 : 0;
            s->buttons.push_back(b);
        }
        invalidateRect(w, nullptr, true);
        return 1;
    }
    case TB_BUTTONCOUNT:
        return (LRESULT)s->buttons.size();
    case TB_GETBUTTON:
        if (wp >= s->buttons.size() || lp == 0) return 0;
        *(TBBUTTON*)lp = s->buttons[wp].record;
        return 1;
    case TB_GETBUTTONTEXTA:
        for (const ToolButton& b : s->buttons) {
            if ((b.record.fsStyle & BTNS_SEP) == 0 && b.record.idCommand == (int)wp) {
                if (lp != 0) memcpy((char*)lp, b.label.c_str(), b.label.size() + 1);
                return (LRESULT)b.label.size();
            }
        }
        return -1;
    case TB_SETIMAGELIST: {
        HIMAGELIST old = s->normal;
        s->normal = (HIMAGELIST)lp;
        invalidateRect(w, nullptr, true);
        return (LRESULT)old;
    }
    case TB_GETIMAGELIST:
        return (LRESULT)s->normal;
    case TB_SETHOTIMAGELIST: {
        HIMAGELIST old = s->hot;
        s->hot = (HIMAGELIST)lp;
        return (LRESULT)old;
    }
    case TB_SETEXTENDEDSTYLE: {
        DWORD old = s->exStyle;
        s->exStyle = (DWORD)lp;
        return (LRESULT)old;
    }
    case TB_GETEXTENDEDSTYLE:
        return (LRESULT)s->exStyle;
    case CCM_SETVERSION: {
        LRESULT old = s->version;
        s->version = (LRESULT)wp;
        return old;
    }
    case CCM_GETVERSION:
        return s->version;
    case TB_AUTOSIZE:
        return 0;
    case WM_LBUTTONDOWN:
        s->pressed = buttonAt(w, *s, GET_X_LPARAM(lp));
        if (s->pressed >= 0) setCapture(w);
        invalidateRect(w, nullptr, true);
        return 0;
    case WM_LBUTTONUP: {
        int pressed = s->pressed;
        s->pressed = -1;
        if (pressed < 0) return 0;
        releaseCapture();
        invalidateRect(w, nullptr, true);
        const ToolButton& b = s->buttons[(size_t)pressed];
        if (buttonAt(w, *s, GET_X_LPARAM(lp)) == pressed && (b.record.fsState & TBSTATE_ENABLED) != 0
            && getParent(w) != nullptr)
            sendMessage(getParent(w), WM_COMMAND, MAKEWPARAM(b.record.idCommand, BN_CLICKED), (LPARAM)w);
        return 0;
    }
    case WM_PAINT:
        paintToolbar(w, *s);
        return 0;
    default:
        break;
    }
    return defWindowProc(w, m, wp, lp);
}

LRESULT statusProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    StatusState* s = trackState<StatusState>(w, m);
    if (s == nullptr) return defWindowProc(w, m, wp, lp);
    switch (m) {
    case SB_SETPARTS: {
        const int* edges = (const int*)lp;
        if (wp == 0 || wp > 256 || edges == nullptr) return 0;
        s->edges.assign(edges, edges + wp);
        s->texts.resize(wp);
        s->types.resize(wp);
        invalidateRect(w, nullptr, true);
        return 1;
    }
    case SB_GETPARTS: {
        int* edges = (int*)lp;
        if (edges != nullptr) {
            for (size_t i = 0; i < std::min((size_t)wp, s->edges.size()); i++)
                edges[i] = s->edges[i];
        }
        return (LRESULT)s->edges.size();
    }
    case SB_SETTEXTA: {
        size_t part = wp & 0xFF;
        if (part >= s->texts.size()) return 0;
        s->texts[part] = textArg(lp);
        s->types[part] = wp & 0xFF00;
        invalidateRect(w, nullptr, true);
        return 1;
    }
    case SB_GETTEXTA:
    case SB_GETTEXTLENGTHA: {
        size_t part = wp & 0xFF;
        if (part >= s->texts.size()) return 0;
        if (m == SB_GETTEXTA && lp != 0) memcpy((char*)lp, s->texts[part].c_str(), s->texts[part].size() + 1);
        return (LRESULT)MAKELPARAM((int)s->texts[part].size(), (int)s->types[part]);
    }
    case WM_SETTEXT: {
        LRESULT r = defWindowProc(w, m, wp, lp);
        s->texts[0] = textArg(lp);
        invalidateRect(w, nullptr, true);
        return r;
    }
    case WM_SIZE:
        s->fixed.enforce(w, statusHeight(w));
        return 0;
    case WM_PAINT:
        paintStatus(w, *s);
        return 0;
    default:
        break;
    }
    return defWindowProc(w, m, wp, lp);
}

} // namespace wplat::controls
