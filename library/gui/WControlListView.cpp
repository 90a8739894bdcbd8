#include "WControlListView.h"

#include <cstring>

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"

namespace {

LRESULT send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT none)
{
    return window != nullptr ? wplat::sendMessage(window, message, wParam, lParam) : none;
}

} // namespace

WControlListView::WControlListView() : columnCount(0), defaultImage(0)
{
}

WControlListView::WControlListView(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
    : WControlListView()
{
    create(owner, controlName, dialogItemId);
}

WControlListView::WControlListView(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style)
    : WControlListView()
{
    create(owner, controlName, x, y, width, height, style);
}

void WControlListView::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlListView::create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    unsigned long bits = style == STYLE_REPORT ? 0x800D : style == STYLE_REPORT_SORTHEADER ? 0x000D : 0;
    WControl::create(
        owner, controlName, WWindowStyle("SysListView32", 0x50000000 + bits, WS_EX_CLIENTEDGE), x, y, width, height);
    if (style == STYLE_REPORT || style == STYLE_REPORT_SORTHEADER) setExStyle(LVS_EX_FULLROWSELECT, true);
}

void WControlListView::insertColumn(unsigned long index, unsigned long width, const char* title, bool rightAligned)
{
    LVCOLUMNA column {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = rightAligned ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = (int)width;
    column.pszText = (char*)(title != nullptr ? title : "");
    column.iSubItem = (int)index;
    if (send(window, LVM_INSERTCOLUMNA, (WPARAM)index, (LPARAM)&column, -1) != -1) columnCount++;
}

void WControlListView::removeColumn(unsigned long index)
{
    if (send(window, LVM_DELETECOLUMN, (WPARAM)index, 0, 0) != 0 && columnCount > 0) columnCount--;
}

void WControlListView::setImageListLarge(HIMAGELIST list)
{
    send(window, LVM_SETIMAGELIST, LVSIL_NORMAL, (LPARAM)list, 0);
}

void WControlListView::setImageListSmall(HIMAGELIST list)
{
    send(window, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)list, 0);
}

unsigned long WControlListView::addItem(unsigned long index, const char* text, void* data)
{
    LVITEMA item {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = (int)index;
    item.pszText = (char*)(text != nullptr ? text : "");
    item.iImage = (int)defaultImage;
    item.lParam = (LPARAM)data;
    return (unsigned long)send(window, LVM_INSERTITEMA, 0, (LPARAM)&item, -1);
}

void WControlListView::setItem(unsigned long row, unsigned long column, const char* text)
{
    LVITEMA item {};
    item.mask = LVIF_TEXT;
    item.iItem = (int)row;
    item.iSubItem = (int)column;
    item.pszText = (char*)(text != nullptr ? text : "");
    send(window, LVM_SETITEMA, 0, (LPARAM)&item, 0);
}

void WControlListView::setItemImage(unsigned long row, unsigned long image)
{
    LVITEMA item {};
    item.mask = LVIF_IMAGE;
    item.iItem = (int)row;
    item.iImage = (int)image;
    send(window, LVM_SETITEMA, 0, (LPARAM)&item, 0);
}

void WControlListView::setItemData(unsigned long row, void* data)
{
    LVITEMA item {};
    item.mask = LVIF_PARAM;
    item.iItem = (int)row;
    item.lParam = (LPARAM)data;
    send(window, LVM_SETITEMA, 0, (LPARAM)&item, 0);
}

void* WControlListView::getItemData(unsigned long row) const
{
    LVITEMA item {};
    item.mask = LVIF_PARAM;
    item.iItem = (int)row;
    if (send(window, LVM_GETITEMA, 0, (LPARAM)&item, 0) == 0) return nullptr;
    return (void*)item.lParam;
}

bool WControlListView::getItemText(unsigned long row, unsigned long column, WString& text) const
{
    // A buffer of 128 bytes: at most 127 characters.
    if (text.getBufLength() < 128) text.resize(127);
    if (window == nullptr) {
        text.truncate(0);
        return true;
    }
    LVITEMA item {};
    item.iSubItem = (int)column;
    item.pszText = text.getBuf();
    item.cchTextMax = (int)text.getBufLength();
    LRESULT n = wplat::sendMessage(window, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
    text.truncate(n < 0 ? 0 : (unsigned long)n);
    return true;
}

unsigned long WControlListView::getItemCount() const
{
    return (unsigned long)send(window, LVM_GETITEMCOUNT, 0, 0, 0);
}

unsigned long WControlListView::getItemIdx() const
{
    return (unsigned long)send(window, LVM_GETSELECTIONMARK, 0, 0, -1);
}

unsigned long WControlListView::getItemIdx(const char* text, unsigned long start) const
{
    LVFINDINFOA find {};
    find.flags = LVFI_STRING;
    find.psz = text != nullptr ? text : "";
    return (unsigned long)send(window, LVM_FINDITEMA, (WPARAM)(int)start, (LPARAM)&find, -1);
}

unsigned long WControlListView::getItemIdx(void* data, unsigned long start) const
{
    LVFINDINFOA find {};
    find.flags = LVFI_PARAM;
    find.lParam = (LPARAM)data;
    return (unsigned long)send(window, LVM_FINDITEMA, (WPARAM)(int)start, (LPARAM)&find, -1);
}

unsigned long WControlListView::getNextItemIdx(unsigned long row) const
{
    return (unsigned long)send(window, LVM_GETNEXTITEM, (WPARAM)(int)row, LVNI_BELOW, -1);
}

unsigned long WControlListView::getPrevItemIdx(unsigned long row) const
{
    return (unsigned long)send(window, LVM_GETNEXTITEM, (WPARAM)(int)row, LVNI_ABOVE, -1);
}

void WControlListView::selectItem(unsigned long row)
{
    LVITEMA item {};
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    send(window, LVM_SETITEMSTATE, (WPARAM)row, (LPARAM)&item, 0);
    send(window, LVM_SETSELECTIONMARK, 0, (LPARAM)row, -1);
}

bool WControlListView::isSelected(unsigned long row) const
{
    return (send(window, LVM_GETITEMSTATE, (WPARAM)row, LVIS_SELECTED, 0) & LVIS_SELECTED) != 0;
}

bool WControlListView::isSelected() const
{
    return send(window, LVM_GETSELECTEDCOUNT, 0, 0, 0) > 0;
}

void WControlListView::removeItem(unsigned long row)
{
    send(window, LVM_DELETEITEM, (WPARAM)row, 0, 0);
}

void WControlListView::removeItem()
{
    removeItem(getItemIdx());
}

void WControlListView::removeAll()
{
    send(window, LVM_DELETEALLITEMS, 0, 0, 0);
}

void WControlListView::sortItems(int (*compare)(long, long, long), void* parameter)
{
    // LPARAM and long are both 64-bit here, so the comparison takes the values as they are.
    static_assert(sizeof(long) == sizeof(LPARAM), "user values travel as long");
    send(window, LVM_SORTITEMS, (WPARAM)parameter, (LPARAM)compare, 0);
}

void WControlListView::setTextColor(unsigned long color)
{
    send(window, LVM_SETTEXTCOLOR, 0, (LPARAM)color, 0);
}

void WControlListView::setTextBkColor(unsigned long color)
{
    send(window, LVM_SETTEXTBKCOLOR, 0, (LPARAM)color, 0);
}

void WControlListView::setBkColor(unsigned long color)
{
    send(window, LVM_SETBKCOLOR, 0, (LPARAM)color, 0);
}

void WControlListView::setBkImage(const char* path, bool tile)
{
    LVBKIMAGEA image {};
    image.ulFlags = LVBKIF_SOURCE_URL | (tile ? LVBKIF_STYLE_TILE : 0);
    image.pszImage = (char*)(path != nullptr ? path : "");
    image.cchImageMax = (UINT)strlen(image.pszImage);
    send(window, LVM_SETBKIMAGEA, 0, (LPARAM)&image, 0);
}

void WControlListView::setExStyle(unsigned long bits, bool set)
{
    if (window == nullptr) return;
    DWORD style = (DWORD)wplat::sendMessage(window, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    style = set ? (style | (DWORD)bits) : (style & ~(DWORD)bits);
    wplat::sendMessage(window, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, (LPARAM)style);
}
