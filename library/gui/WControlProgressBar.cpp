#include "WControlProgressBar.h"

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"

WControlProgressBar::WControlProgressBar(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    create(owner, controlName, dialogItemId);
}

WControlProgressBar::WControlProgressBar(WWindowContext* owner, const char* controlName, int x, int y,
    unsigned long width, unsigned long height, Style style)
{
    create(owner, controlName, x, y, width, height, style);
}

void WControlProgressBar::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlProgressBar::create(
    WWindowContext* owner, const char* controlName, int x, int y, unsigned long width, unsigned long height, Style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    WControl::create(owner, controlName, WWindowStyle("PROGRESS", 0x50000000, 0), x, y, width, height);
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
