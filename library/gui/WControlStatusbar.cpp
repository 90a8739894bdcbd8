#include "WControlStatusbar.h"

#include <vector>

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"

WControlStatusbar::WControlStatusbar(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

WControlStatusbar::WControlStatusbar(WWindowContext* owner, const char* controlName, Style style)
{
    create(owner, controlName, style);
}

void WControlStatusbar::create(WWindowContext* owner, const char* controlName, Style style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    WControl::create(
        owner, controlName, WWindowStyle("msctls_statusbar32", 0x50000100, (unsigned long)style), 0, 0, 0, 0);
}

void WControlStatusbar::setParts(unsigned long count, const unsigned long* rightEdges)
{
    if (window == nullptr || rightEdges == nullptr) return;
    std::vector<int> edges(count);
    for (unsigned long i = 0; i < count; i++)
        edges[i] = (int)(long)rightEdges[i];
    wplat::sendMessage(window, SB_SETPARTS, (WPARAM)count, (LPARAM)edges.data());
}

void WControlStatusbar::setText(const char* text, unsigned long part)
{
    wplat::sendMessage(window, SB_SETTEXTA, (WPARAM)part, (LPARAM)(text != nullptr ? text : ""));
}

void WControlStatusbar::adjust()
{
    WWindowContext* owner = getWindowContext();
    if (window == nullptr || owner == nullptr) return;
    RECT area;
    owner->getClientArea(area);
    long y = (long)area.bottom - (long)getWindowHeight();
    setWindowPos(0, (int)y, (unsigned long)(area.right - area.left), (unsigned long)(area.bottom - area.top), true);
}
