#include "WControlStatic.h"

#include "internal/WControlHelpers.h"

WControlStatic::WControlStatic(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    create(owner, controlName, dialogItemId);
}

WControlStatic::WControlStatic(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style)
{
    create(owner, controlName, x, y, width, height, style);
}

void WControlStatic::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlStatic::create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    WControl::create(owner, controlName, WWindowStyle("STATIC", WS_CHILD | WS_VISIBLE, (unsigned long)style), x, y,
        width, wcontrols::defaultHeight(height));
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
