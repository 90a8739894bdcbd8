#include "WControlStatusbar.h"

#include <vector>

#include "ControlTypes.h"
#include "WControlHelpers.h"

WControlStatusbar::WControlStatusbar(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    WControl::create(context, name, dialogItemId);
}

WControlStatusbar::WControlStatusbar(WWindowContext* context, const char* name, Style style)
{
    create(context, name, style);
}

void WControlStatusbar::create(WWindowContext* context, const char* name, Style style)
{
    if (window != nullptr)
        return;
    wplat::registerControlClasses();
    WControl::create(context, name, WWindowStyle("msctls_statusbar32", 0x50000100, (unsigned long)style), 0, 0, 0, 0);
}

void WControlStatusbar::setParts(unsigned long count, const unsigned long* rightEdges)
{
    if (window == nullptr || rightEdges == nullptr)
        return;
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
    WWindowContext* context = getWindowContext();
    if (window == nullptr || context == nullptr)
        return;
    RECT area;
    context->getClientArea(area);
    long y = (long)area.bottom - (long)getWindowHeight();
    setWindowPos(0, (int)y, (unsigned long)(area.right - area.left), (unsigned long)(area.bottom - area.top), true);
}
