#include "WControlRebar.h"

#include <cstring>

#include "internal/WControlHelpers.h"
#include "WException.h"

WControlRebar::WControlRebar()
{
    resetRecords();
}

WControlRebar::WControlRebar(WWindowContext* owner, Style style) : WControlRebar()
{
    create(owner, style);
}

WControlRebar::WControlRebar(const WControlRebar& other)
    : WControl(other), barInfo(other.barInfo), bandTemplate(other.bandTemplate), bands(other.bands)
{
}

WControlRebar& WControlRebar::operator=(const WControlRebar& other)
{
    if (this != &other) {
        WControl::operator=(other);
        barInfo = other.barInfo;
        bandTemplate = other.bandTemplate;
        bands = other.bands;
    }
    return *this;
}

WControlRebar::~WControlRebar()
{
    WControlRebar::destroy();
}

void WControlRebar::resetRecords()
{
    memset(&barInfo, 0, sizeof barInfo);
    memset(&bandTemplate, 0, sizeof bandTemplate);
}

void WControlRebar::create(WWindowContext* owner, Style style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    WControl::create(owner, "", WWindowStyle("ReBarWindow32", 0x56809648, (unsigned long)style | 0x80), 0, 0, 0, 0);
    barInfo.cbSize = kRebarInfoSize32;
    barInfo.fMask = 0;
    barInfo.himl = nullptr;
    if (wplat::sendMessage(window, RB_SETBARINFO, 0, (LPARAM)&barInfo) == 0) {
        // Nothing half-made stays behind.
        WControl::destroy();
        resetRecords();
        throw WControlException("Cannot create Rebar control.", -1);
    }
    bandTemplate.cbSize = kRebarBandInfoSize32;
    bandTemplate.fMask = 0x75;
    bandTemplate.fStyle = 0x204;
}

void WControlRebar::destroy()
{
    if (window == nullptr) return;
    if (wplat::isWindow(window) && WControlManager::getControl(window) == this) {
        for (LRESULT n = wplat::sendMessage(window, RB_GETBANDCOUNT, 0, 0); n > 0; n--)
            wplat::sendMessage(window, RB_DELETEBAND, (WPARAM)(n - 1), 0);
    }
    resetRecords();
    bands.removeAll();
    WControl::destroy();
}

void WControlRebar::addControl(const WControl& control, const char* text, unsigned long width, unsigned long minWidth)
{
    if (width == 0) {
        RECT area {0, 0, 0, 0};
        control.getClientArea(area);
        width = (unsigned long)(area.right - area.left);
    }
    bandTemplate.lpText = (char*)(text != nullptr ? text : "");
    bandTemplate.hwndChild = control.getWindowHandle();
    bandTemplate.cxMinChild = (UINT)minWidth;
    bandTemplate.cyMinChild = (UINT)control.getControlHeight();
    bandTemplate.cx = (UINT)width;
    unsigned long index = bands.size();
    if (window != nullptr) wplat::sendMessage(window, RB_INSERTBANDA, (WPARAM)index, (LPARAM)&bandTemplate);
    bands.put(index, const_cast<WControl*>(&control));
    bandTemplate.lpText = nullptr;
}

void WControlRebar::setColor(unsigned long foreground, unsigned long background)
{
    bandTemplate.fMask |= RBBIM_COLORS;
    bandTemplate.clrFore = (COLORREF)foreground;
    bandTemplate.clrBack = (COLORREF)background;
}

void WControlRebar::setBackgroundImage(HBITMAP bitmap)
{
    bandTemplate.fMask |= RBBIM_BACKGROUND;
    bandTemplate.fStyle |= RBBS_FIXEDBMP;
    bandTemplate.hbmBack = bitmap;
}

void WControlRebar::adjust(int y)
{
    WWindowContext* owner = getWindowContext();
    if (window == nullptr || owner == nullptr) return;
    RECT area;
    owner->getClientArea(area);
    setWindowPos(0, y, (unsigned long)(area.right - area.left), (unsigned long)(area.bottom - area.top), false);
}

bool WControlRebar::setFocusNextControl(WControl& control, bool returnKey)
{
    if (returnKey) return false;
    HWND next = wplat::getNextDlgTabItem(window, control.getWindowHandle(), false);
    if (next != nullptr) wplat::setFocus(next);
    return true;
}
