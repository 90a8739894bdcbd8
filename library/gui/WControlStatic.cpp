#include "WControlStatic.h"

#include "WControlHelpers.h"

WControlStatic::WControlStatic(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    create(context, name, dialogItemId);
}

WControlStatic::WControlStatic(WWindowContext* context, const char* name, int x, int y, unsigned long width,
                               unsigned long height, Style style)
{
    create(context, name, x, y, width, height, style);
}

void WControlStatic::create(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    WControl::create(context, name, dialogItemId);
}

void WControlStatic::create(WWindowContext* context, const char* name, int x, int y, unsigned long width,
                            unsigned long height, Style style)
{
    if (window != nullptr)
        return;
    wplat::registerControlClasses();
    WControl::create(context, name, WWindowStyle("STATIC", WS_CHILD | WS_VISIBLE, (unsigned long)style), x, y, width,
                     wcontrols::defaultHeight(height));
    wcontrols::setDefaultFont(window);
}

void WControlStatic::setText(const char* text)
{
    wplat::sendMessage(window, WM_SETTEXT, 0, (LPARAM)(text != nullptr ? text : ""));
}

void WControlStatic::setFont(const WFont& font)
{
    wplat::sendMessage(window, WM_SETFONT, (WPARAM)(HFONT)font, 1);
}
