#include "WControlTrackbar.h"

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"

WControlTrackbar::WControlTrackbar(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    create(owner, controlName, dialogItemId);
}

WControlTrackbar::WControlTrackbar(WWindowContext* owner, const char* controlName, const char* text, int x, int y,
    unsigned long width, unsigned long height, Style style)
{
    create(owner, controlName, text, x, y, width, height, style);
}

void WControlTrackbar::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlTrackbar::create(WWindowContext* owner, const char* controlName, const char*, int x, int y,
    unsigned long width, unsigned long height, Style style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    unsigned long bits = style == STYLE_TICKS ? (TBS_AUTOTICKS | TBS_ENABLESELRANGE) : 0;
    WControl::create(owner, controlName, WWindowStyle("msctls_trackbar32", 0x50000000 | bits, 0), x, y, width, height);
}

void WControlTrackbar::setRange(int minimum, int maximum, unsigned long tick)
{
    if (window == nullptr) return;
    wplat::sendMessage(window, TBM_SETRANGE, 1, MAKELPARAM(minimum, maximum));
    if (tick != 0) {
        setTickFreq(tick);
        setPageSize(tick);
    }
}

void WControlTrackbar::setPos(int position)
{
    wplat::sendMessage(window, TBM_SETPOS, 1, (LPARAM)position);
}

int WControlTrackbar::getPos() const
{
    return (int)wplat::sendMessage(window, TBM_GETPOS, 0, 0);
}

void WControlTrackbar::setTickFreq(unsigned long frequency)
{
    wplat::sendMessage(window, TBM_SETTICFREQ, (WPARAM)frequency, 0);
}

void WControlTrackbar::setPageSize(unsigned long size)
{
    wplat::sendMessage(window, TBM_SETPAGESIZE, 0, (LPARAM)size);
}
