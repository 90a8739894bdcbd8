#include "WControlTab.h"

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"

WControlTab::WControlTab() : currentPage(0), autoFit(true), verticalOffset(0)
{
}

WControlTab::WControlTab(WWindowContext* owner, const char* controlName, Style style) : WControlTab()
{
    create(owner, controlName, style);
}

WControlTab::WControlTab(const WControlTab& other)
    : WControl(other), currentPage(other.currentPage), pages(other.pages), autoFit(other.autoFit),
      verticalOffset(other.verticalOffset)
{
}

WControlTab& WControlTab::operator=(const WControlTab& other)
{
    if (this != &other) {
        WControl::operator=(other);
        currentPage = other.currentPage;
        pages = other.pages;
        autoFit = other.autoFit;
        verticalOffset = other.verticalOffset;
    }
    return *this;
}

void WControlTab::create(WWindowContext* owner, const char* controlName, Style style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    RECT area {0, 0, 0, 0};
    if (owner != nullptr && owner->getWindowHandle() != nullptr) owner->getClientArea(area);
    WControl::create(owner, controlName, WWindowStyle("SysTabControl32", (unsigned long)style | 0x54000000, 0),
        area.left, area.top, (unsigned long)(area.right - area.left), (unsigned long)(area.bottom - area.top));
    wcontrols::setDefaultFont(window);
}

unsigned long WControlTab::addPage(unsigned long index, const char* title, HWND content)
{
    TCITEMA item {};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.pszText = (char*)(title != nullptr ? title : "");
    item.iImage = -1;
    LRESULT at = window != nullptr ? wplat::sendMessage(window, TCM_INSERTITEMA, (WPARAM)index, (LPARAM)&item) : -1;
    pages.put((unsigned long)at, content);
    return (unsigned long)at;
}

void WControlTab::removePage(unsigned long index)
{
    if (window != nullptr) wplat::sendMessage(window, TCM_DELETEITEM, (WPARAM)index, 0);
    pages.remove(index);
}

HWND WControlTab::getContentWindow(unsigned long index) const
{
    HWND* content = pages.find(index);
    return content != nullptr ? *content : nullptr;
}

void WControlTab::setFocusPage(unsigned long index)
{
    HWND old = getContentWindow(currentPage);
    if (old != nullptr) wplat::showWindow(old, SW_HIDE);
    HWND content = getContentWindow(index);
    if (content != nullptr && window != nullptr) {
        RECT area;
        wplat::getClientRect(window, area);
        wplat::sendMessage(window, TCM_ADJUSTRECT, 0, (LPARAM)&area);
        int width = area.right - area.left;
        int height = area.bottom - area.top;
        POINT at {area.left, area.top};
        if (!autoFit) {
            RECT own;
            wplat::getWindowRect(content, own);
            width = own.right - own.left;
            height = own.bottom - own.top;
            at.y += verticalOffset;
        }
        // The display area is in the tab's coordinates; a page that is not
        // the tab's own child is placed in its parent's.
        HWND parent = wplat::getParent(content);
        if (parent != window) {
            wplat::clientToScreen(window, at);
            if (parent != nullptr) wplat::screenToClient(parent, at);
        }
        wplat::setWindowPos(content, nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        wplat::showWindow(content, SW_SHOW);
        wplat::sendMessage(window, TCM_SETCURFOCUS, (WPARAM)index, 0);
        wplat::sendMessage(window, TCM_SETCURSEL, (WPARAM)index, 0);
    }
    currentPage = index;
}

void WControlTab::setAutoFit(bool on, int offset)
{
    autoFit = on;
    verticalOffset = offset;
}

void WControlTab::calcWindowRect(unsigned long width, unsigned long height, RECT& rect)
{
    rect = RECT {0, 0, (int32_t)width, (int32_t)height};
    if (window != nullptr) wplat::sendMessage(window, TCM_ADJUSTRECT, 1, (LPARAM)&rect);
    rect.right -= rect.left;
    rect.bottom -= rect.top;
    rect.left = 0;
    rect.top = 0;
}
