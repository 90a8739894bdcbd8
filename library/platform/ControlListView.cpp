// The report list view: columns, rows of cells with an image, a user value
// and selected/focused states, the selection mark, sorting by callback and
// colours. All of it is kept here.

#include <algorithm>
#include <optional>
#include <cstring>
#include <vector>

#include "internal/ControlSupport.h"
#include "internal/Core.h"

namespace wplat::controls {

namespace {

struct Column {
    std::string title;
    int width = 0;
    int format = LVCFMT_LEFT;
};

struct ViewRow {
    std::vector<std::string> cells;
    int image = 0;
    LPARAM data = 0;
    UINT state = 0;
};

struct ViewState : State {
    std::vector<Column> columns;
    std::vector<ViewRow> rows;
    int mark = -1;
    DWORD exStyle = 0;
    COLORREF textColor = 0;
    COLORREF textBack = 0xFFFFFFFFu;
    COLORREF back = 0xFFFFFFFFu;
    HIMAGELIST large = nullptr;
    HIMAGELIST small = nullptr;
    std::string backImage;
    UINT backImageFlags = 0;
    // The background picture read from backImage, owned here.
    HBITMAP backPicture = nullptr;
    int backX = 0;
    int backY = 0;
    ~ViewState() override
    {
        if (backPicture != nullptr) deleteObject(toObject(backPicture));
    }
};

// Reads the picture a background image names (a path or a file:// address).
void loadBackPicture(ViewState& s, const LVBKIMAGEA& image)
{
    if (s.backPicture != nullptr) deleteObject(toObject(s.backPicture));
    s.backPicture = nullptr;
    if ((image.ulFlags & LVBKIF_SOURCE_URL) == 0 || s.backImage.empty()) return;
    std::string path = s.backImage;
    if (path.compare(0, 7, "file://") == 0) path = path.substr(7);
    detail::Backend* b = detail::backend();
    PixelImage picture;
    if (b != nullptr && b->loadImage(path, picture)) s.backPicture = createBitmapFromImage(picture);
    s.backX = image.xOffsetPercent;
    s.backY = image.yOffsetPercent;
}

// The background picture, tiled from the view's corner or placed once.
void paintBackPicture(HDC dc, const ViewState& s, const RECT& r)
{
    const PixelImage* picture = s.backPicture != nullptr ? getBitmapImage(s.backPicture) : nullptr;
    if (picture == nullptr || picture->isNull()) return;
    HDC memory = createCompatibleDC(dc);
    selectObject(memory, toObject(s.backPicture));
    int pw = picture->width();
    int ph = picture->height();
    if ((s.backImageFlags & LVBKIF_STYLE_TILE) != 0) {
        for (int y = 0; y < r.bottom; y += ph)
            for (int x = 0; x < r.right; x += pw)
                bitBlt(dc, x, y, pw, ph, memory, 0, 0);
    } else {
        bitBlt(dc, (r.right - pw) * s.backX / 100, (r.bottom - ph) * s.backY / 100, pw, ph, memory, 0, 0);
    }
    deleteDC(memory);
}

bool validRow(const ViewState& s, intptr_t row)
{
    return row >= 0 && (size_t)row < s.rows.size();
}

std::string& cell(ViewRow& row, int column)
{
    if ((size_t)column >= row.cells.size()) row.cells.resize((size_t)column + 1);
    return row.cells[(size_t)column];
}

void copyText(const std::string& text, char* buffer, int size, LRESULT& copied)
{
    copied = 0;
    if (buffer == nullptr || size <= 0) return;
    size_t n = std::min(text.size(), (size_t)size - 1);
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    copied = (LRESULT)n;
}

void itemChanged(HWND w, ViewState& s, int row, UINT oldState)
{
    NMLISTVIEW nm {};
    nm.iItem = row;
    nm.uOldState = oldState;
    nm.uNewState = s.rows[(size_t)row].state;
    nm.uChanged = LVIF_STATE;
    nm.lParam = s.rows[(size_t)row].data;
    notifyParent(w, nm.hdr, LVN_ITEMCHANGED);
}

void setState(HWND w, ViewState& s, int row, UINT state, UINT mask)
{
    bool single = (styleOf(w) & LVS_SINGLESEL) != 0;
    // One selected and one focused row at most where the style asks for it.
    for (size_t i = 0; i < s.rows.size(); i++) {
        if ((int)i == row) continue;
        UINT clear = 0;
        if ((mask & state & LVIS_SELECTED) != 0 && single) clear |= LVIS_SELECTED;
        if ((mask & state & LVIS_FOCUSED) != 0) clear |= LVIS_FOCUSED;
        if ((s.rows[i].state & clear) != 0) {
            UINT old = s.rows[i].state;
            s.rows[i].state &= ~clear;
            itemChanged(w, s, (int)i, old);
        }
    }
    UINT old = s.rows[(size_t)row].state;
    s.rows[(size_t)row].state = (old & ~mask) | (state & mask);
    if (s.rows[(size_t)row].state != old) itemChanged(w, s, row, old);
    invalidateRect(w, nullptr, true);
}

LRESULT setItem(ViewState& s, HWND w, const LVITEMA& item)
{
    if (!validRow(s, item.iItem) || item.iSubItem < 0) return 0;
    ViewRow& row = s.rows[(size_t)item.iItem];
    if ((item.mask & LVIF_TEXT) != 0) cell(row, item.iSubItem) = item.pszText != nullptr ? item.pszText : "";
    if (item.iSubItem == 0) {
        if ((item.mask & LVIF_IMAGE) != 0) row.image = item.iImage;
        if ((item.mask & LVIF_PARAM) != 0) row.data = item.lParam;
        if ((item.mask & LVIF_STATE) != 0) setState(w, s, item.iItem, item.state, item.stateMask);
    }
    invalidateRect(w, nullptr, true);
    return 1;
}

LRESULT nextItem(const ViewState& s, intptr_t start, UINT flags)
{
    intptr_t n = (intptr_t)s.rows.size();
    if ((flags & LVNI_BELOW) != 0) return start + 1 < n ? start + 1 : -1;
    if ((flags & LVNI_ABOVE) != 0) return start > 0 && start <= n ? start - 1 : -1;
    UINT want = flags & (LVNI_SELECTED | LVNI_FOCUSED);
    for (intptr_t i = start < 0 ? 0 : start + 1; i < n; i++) {
        if ((s.rows[(size_t)i].state & want) == want) return i;
    }
    return -1;
}

LRESULT findItem(const ViewState& s, intptr_t start, const LVFINDINFOA* info)
{
    if (info == nullptr) return -1;
    size_t n = s.rows.size();
    size_t first = start < 0 ? 0 : (size_t)start + 1;
    bool wrap = (info->flags & 0x20) != 0;
    for (size_t k = 0; k < n; k++) {
        size_t i = first + k;
        if (i >= n) {
            if (!wrap) break;
            i -= n;
        }
        const ViewRow& row = s.rows[i];
        if ((info->flags & LVFI_PARAM) != 0) {
            if (row.data == info->lParam) return (LRESULT)i;
        } else if (info->psz != nullptr) {
            std::string text = row.cells.empty() ? std::string() : row.cells[0];
            bool partial = (info->flags & 0x8) != 0;
            if (partial ? startsWithNoCase(text, info->psz) : equalsNoCase(text, info->psz)) return (LRESULT)i;
        }
    }
    return -1;
}

int headerHeight(HWND w)
{
    return lineHeight(w) + 6;
}

void paintView(HWND w, ViewState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    fillSolid(dc, r, s.back != 0xFFFFFFFFu ? s.back : getSysColor(COLOR_WINDOW));
    paintBackPicture(dc, s, r);
    selectFont(w, dc);
    int h = lineHeight(w) + 2;
    int hh = headerHeight(w);
    int x = 0;
    for (const Column& c : s.columns) {
        fillSolid(dc, RECT {x, 0, x + c.width, hh}, getSysColor(COLOR_BTNFACE));
        drawFrame(dc, RECT {x, 0, x + c.width, hh}, RGB(0xA0, 0xA0, 0xA0));
        drawTextLine(dc, x + 4, 3, c.title, getSysColor(COLOR_BTNTEXT));
        x += c.width;
    }
    for (size_t i = 0; i < s.rows.size(); i++) {
        int y = hh + (int)i * h;
        if (y > r.bottom) break;
        const ViewRow& row = s.rows[i];
        bool selected = (row.state & LVIS_SELECTED) != 0;
        COLORREF color = selected ? RGB(0xFF, 0xFF, 0xFF) : s.textColor;
        if (selected)
            fillSolid(dc, RECT {0, y, std::max(x, 0), y + h}, RGB(0x33, 0x99, 0xFF));
        else if (s.textBack != 0xFFFFFFFFu)
            fillSolid(dc, RECT {0, y, std::max(x, 0), y + h}, s.textBack);
        int cx = 0;
        for (size_t c = 0; c < s.columns.size(); c++) {
            int textX = cx + 4;
            if (c == 0 && s.small != nullptr) {
                imageListDraw(s.small, row.image, dc, cx + 2, y + 1);
                int iw = 0, ih = 0;
                imageListGetIconSize(s.small, iw, ih);
                textX += iw + 2;
            }
            std::string text = c < row.cells.size() ? row.cells[c] : std::string();
            if (s.columns[c].format == LVCFMT_RIGHT) textX = cx + s.columns[c].width - 4 - textWidth(w, text);
            drawTextLine(dc, textX, y + 1, text, color);
            cx += s.columns[c].width;
        }
    }
    if ((getWindowLongPtr(w, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0) drawFrame(dc, r, RGB(0x80, 0x80, 0x80));
}

void clickRow(HWND w, ViewState& s, int row)
{
    if (!validRow(s, row)) return;
    setState(w, s, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    s.mark = row;
}

} // namespace

namespace {

// Columns of the report view.
std::optional<LRESULT> columnMessage(HWND w, ViewState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case LVM_INSERTCOLUMNA: {
        const LVCOLUMNA* c = (const LVCOLUMNA*)lp;
        if (c == nullptr || (intptr_t)wp < 0) return -1;
        Column column;
        if ((c->mask & LVCF_TEXT) != 0 && c->pszText != nullptr) column.title = c->pszText;
        if ((c->mask & LVCF_WIDTH) != 0) column.width = std::max(c->cx, 0);
        if ((c->mask & LVCF_FMT) != 0) column.format = c->fmt & 3;
        size_t at = std::min((size_t)wp, s->columns.size());
        s->columns.insert(s->columns.begin() + (ptrdiff_t)at, column);
        invalidateRect(w, nullptr, true);
        return (LRESULT)at;
    }
    case LVM_DELETECOLUMN: {
        if (wp >= s->columns.size()) return 0;
        s->columns.erase(s->columns.begin() + (ptrdiff_t)wp);
        for (ViewRow& row : s->rows) {
            if (wp < row.cells.size()) row.cells.erase(row.cells.begin() + (ptrdiff_t)wp);
        }
        invalidateRect(w, nullptr, true);
        return 1;
    }
    case LVM_GETCOLUMNA: {
        LVCOLUMNA* c = (LVCOLUMNA*)lp;
        if (c == nullptr || wp >= s->columns.size()) return 0;
        const Column& column = s->columns[wp];
        LRESULT copied = 0;
        if ((c->mask & LVCF_TEXT) != 0) copyText(column.title, c->pszText, c->cchTextMax, copied);
        c->cx = column.width;
        c->fmt = column.format;
        return 1;
    }
    default:
        break;
    }
    return std::nullopt;
}

// Rows: adding, reading, changing, finding, sorting and removing them.
std::optional<LRESULT> itemMessage(HWND w, ViewState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case LVM_INSERTITEMA: {
        const LVITEMA* item = (const LVITEMA*)lp;
        if (item == nullptr || item->iSubItem != 0) return -1;
        size_t at = item->iItem < 0 ? s->rows.size() : std::min((size_t)item->iItem, s->rows.size());
        ViewRow row;
        row.cells.resize(1);
        s->rows.insert(s->rows.begin() + (ptrdiff_t)at, row);
        if (s->mark >= (int)at) s->mark++;
        LVITEMA copy = *item;
        copy.iItem = (int)at;
        copy.mask &= ~LVIF_STATE;
        setItem(*s, w, copy);
        if ((item->mask & LVIF_STATE) != 0) setState(w, *s, (int)at, item->state, item->stateMask);
        return (LRESULT)at;
    }
    case LVM_SETITEMA:
        return lp != 0 ? setItem(*s, w, *(const LVITEMA*)lp) : 0;
    case LVM_GETITEMA: {
        LVITEMA* item = (LVITEMA*)lp;
        if (item == nullptr || !validRow(*s, item->iItem)) return 0;
        ViewRow& row = s->rows[(size_t)item->iItem];
        LRESULT copied = 0;
        if ((item->mask & LVIF_TEXT) != 0)
            copyText((size_t)item->iSubItem < row.cells.size() ? row.cells[(size_t)item->iSubItem] : "", item->pszText,
                item->cchTextMax, copied);
        if ((item->mask & LVIF_IMAGE) != 0) item->iImage = row.image;
        if ((item->mask & LVIF_PARAM) != 0) item->lParam = row.data;
        if ((item->mask & LVIF_STATE) != 0) item->state = row.state & item->stateMask;
        return 1;
    }
    case LVM_SETITEMTEXTA: {
        const LVITEMA* item = (const LVITEMA*)lp;
        if (item == nullptr || !validRow(*s, (intptr_t)wp) || item->iSubItem < 0) return 0;
        cell(s->rows[wp], item->iSubItem) = item->pszText != nullptr ? item->pszText : "";
        invalidateRect(w, nullptr, true);
        return 1;
    }
    case LVM_GETITEMTEXTA: {
        LVITEMA* item = (LVITEMA*)lp;
        if (item == nullptr || !validRow(*s, (intptr_t)wp)) return 0;
        const ViewRow& row = s->rows[wp];
        LRESULT copied = 0;
        copyText((size_t)item->iSubItem < row.cells.size() ? row.cells[(size_t)item->iSubItem] : "", item->pszText,
            item->cchTextMax, copied);
        return copied;
    }
    case LVM_GETITEMCOUNT:
        return (LRESULT)s->rows.size();
    case LVM_FINDITEMA:
        return findItem(*s, (intptr_t)(int)wp, (const LVFINDINFOA*)lp);
    case LVM_DELETEITEM:
        if (!validRow(*s, (intptr_t)wp)) return 0;
        s->rows.erase(s->rows.begin() + (ptrdiff_t)wp);
        if (s->mark == (int)wp)
            s->mark = -1;
        else if (s->mark > (int)wp)
            s->mark--;
        invalidateRect(w, nullptr, true);
        return 1;
    case LVM_DELETEALLITEMS:
        s->rows.clear();
        s->mark = -1;
        invalidateRect(w, nullptr, true);
        return 1;
    case LVM_SORTITEMS: {
        PFNLVCOMPARE compare = (PFNLVCOMPARE)lp;
        if (compare == nullptr) return 0;
        LPARAM parameter = (LPARAM)wp;
        // Sorted on the side: a comparison that throws leaves the rows as they were.
        std::vector<ViewRow> sorted = s->rows;
        std::stable_sort(sorted.begin(), sorted.end(),
            [&](const ViewRow& a, const ViewRow& b) { return compare(a.data, b.data, parameter) < 0; });
        s->rows.swap(sorted);
        invalidateRect(w, nullptr, true);
        return 1;
    }
    default:
        break;
    }
    return std::nullopt;
}

// Selected and focused states, the selection mark.
std::optional<LRESULT> selectionMessage(HWND w, ViewState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case LVM_SETITEMSTATE: {
        const LVITEMA* item = (const LVITEMA*)lp;
        if (item == nullptr) return 0;
        if ((intptr_t)wp == -1) {
            for (size_t i = 0; i < s->rows.size(); i++)
                setState(w, *s, (int)i, item->state, item->stateMask);
            return 1;
        }
        if (!validRow(*s, (intptr_t)wp)) return 0;
        setState(w, *s, (int)wp, item->state, item->stateMask);
        return 1;
    }
    case LVM_GETITEMSTATE:
        return validRow(*s, (intptr_t)wp) ? (LRESULT)(s->rows[wp].state & (UINT)lp) : 0;
    case LVM_GETSELECTEDCOUNT:
        return (LRESULT)std::count_if(
            s->rows.begin(), s->rows.end(), [](const ViewRow& r) { return (r.state & LVIS_SELECTED) != 0; });
    case LVM_GETNEXTITEM:
        return nextItem(*s, (intptr_t)(int)wp, (UINT)lp);
    case LVM_GETSELECTIONMARK:
        return s->mark;
    case LVM_SETSELECTIONMARK: {
        int old = s->mark;
        s->mark = validRow(*s, lp) ? (int)lp : -1;
        return old;
    }
    default:
        break;
    }
    return std::nullopt;
}

// Colours, styles, image lists, the background picture and painting.
std::optional<LRESULT> appearanceMessage(HWND w, ViewState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        DWORD old = s->exStyle;
        DWORD mask = wp == 0 ? 0xFFFFFFFFu : (DWORD)wp;
        s->exStyle = (old & ~mask) | ((DWORD)lp & mask);
        invalidateRect(w, nullptr, true);
        return (LRESULT)old;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
        return (LRESULT)s->exStyle;
    case LVM_SETTEXTCOLOR:
        s->textColor = (COLORREF)lp;
        invalidateRect(w, nullptr, true);
        return 1;
    case LVM_SETTEXTBKCOLOR:
        s->textBack = (COLORREF)lp;
        invalidateRect(w, nullptr, true);
        return 1;
    case LVM_SETBKCOLOR:
        s->back = (COLORREF)lp;
        invalidateRect(w, nullptr, true);
        return 1;
    case LVM_SETIMAGELIST: {
        HIMAGELIST& slot = wp == LVSIL_SMALL ? s->small : s->large;
        HIMAGELIST old = slot;
        slot = (HIMAGELIST)lp;
        invalidateRect(w, nullptr, true);
        return (LRESULT)old;
    }
    case LVM_SETBKIMAGEA: {
        const LVBKIMAGEA* image = (const LVBKIMAGEA*)lp;
        if (image == nullptr) return 0;
        s->backImageFlags = image->ulFlags;
        s->backImage = (image->ulFlags & LVBKIF_SOURCE_URL) != 0 && image->pszImage != nullptr ? image->pszImage : "";
        loadBackPicture(*s, *image);
        invalidateRect(w, nullptr, true);
        return s->backImage.empty() || s->backPicture != nullptr ? 1 : 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_SIZE:
        invalidateRect(w, nullptr, true);
        return 0;
    case WM_PAINT:
        paintView(w, *s);
        return 0;
    default:
        break;
    }
    return std::nullopt;
}

// Mouse and keyboard.
std::optional<LRESULT> inputMessage(HWND w, ViewState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN: {
        setFocus(w);
        int y = GET_Y_LPARAM(lp) - headerHeight(w);
        int row = y < 0 ? -1 : y / (lineHeight(w) + 2);
        clickRow(w, *s, row);
        NMHDR nm {};
        notifyParent(w, nm, m == WM_LBUTTONDBLCLK ? NM_DBLCLK : m == WM_RBUTTONDOWN ? NM_RCLICK : NM_CLICK);
        return 0;
    }
    case WM_KEYDOWN: {
        int n = (int)s->rows.size();
        int focused = (int)nextItem(*s, -1, LVNI_FOCUSED);
        int next = focused;
        if (wp == VK_DOWN)
            next = std::min(n - 1, focused + 1);
        else if (wp == VK_UP)
            next = std::max(0, focused - 1);
        else if (wp == VK_HOME)
            next = 0;
        else if (wp == VK_END)
            next = n - 1;
        else if (wp == VK_RETURN) {
            NMHDR nm {};
            notifyParent(w, nm, NM_RETURN);
            return 0;
        }
        if (next != focused) clickRow(w, *s, next);
        return 0;
    }
    default:
        break;
    }
    return std::nullopt;
}

} // namespace

LRESULT listViewProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return answerByGroups<ViewState>(
        w, m, wp, lp, {columnMessage, itemMessage, selectionMessage, appearanceMessage, inputMessage});
}

} // namespace wplat::controls
