#include "WControlProgressBar.h"

#include "ControlTypes.h"
#include "WControlHelpers.h"

WControlProgressBar::WControlProgressBar(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    create(context, name, dialogItemId);
}

WControlProgressBar::WControlProgressBar(WWindowContext* context, const char* name, int x, int y,
                                         unsigned long width, unsigned long height, Style style)
{
    create(context, name, x, y, width, height, style);
}

void WControlProgressBar::create(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    WControl::create(context, name, dialogItemId);
}

void WControlProgressBar::create(WWindowContext* context, const char* name, int x, int y, unsigned long width,
                                 unsigned long height, Style)
{
    if (window != nullptr)
        return;
    wplat::registerControlClasses();
    WControl::create(context, name, WWindowStyle("PROGRESS", 0x50000000, 0), x, y, width, height);
}

void WControlProgressBar::setRange(unsigned long minimum, unsigned long maximum)
{
    wplat::sendMessage(window, PBM_SETRANGE, 0, MAKELPARAM((int)minimum, (int)maximum));
}

void WControlProgressBar::setStepSize(unsigned long step)
{
    wplat::sendMessage(window, PBM_SETSTEP, (WPARAM)step, 0);
}

void WControlProgressBar::setPos(unsigned long position)
{
    wplat::sendMessage(window, PBM_SETPOS, (WPARAM)position, 0);
}

void WControlProgressBar::nextStep()
{
    wplat::sendMessage(window, PBM_STEPIT, 0, 0);
}
