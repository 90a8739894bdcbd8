#include "WControlButton.h"

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"

WControlButton::WControlButton(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    create(owner, controlName, dialogItemId);
}

WControlButton::WControlButton(WWindowContext* owner, const char* controlName, const char* text, int x, int y,
    unsigned long width, unsigned long height, Style style)
{
    create(owner, controlName, text, x, y, width, height, style);
}

void WControlButton::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlButton::create(WWindowContext* owner, const char* controlName, const char* text, int x, int y,
    unsigned long width, unsigned long height, Style style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    unsigned long bits = style == STYLE_RADIOBUTTON ? BS_RADIOBUTTON : style == STYLE_CHECKBOX ? BS_CHECKBOX : 0;
    WControl::create(owner, controlName, WWindowStyle("BUTTON", WS_CHILD | WS_VISIBLE | bits, 0), x, y, width, height);
    wcontrols::setDefaultFont(window);
    setText(text);
}

void WControlButton::setText(const char* text)
{
    wplat::sendMessage(window, WM_SETTEXT, 0, (LPARAM)(text != nullptr ? text : ""));
}

void WControlButton::setFont(const WFont& font)
{
    wplat::sendMessage(window, WM_SETFONT, (WPARAM)(HFONT)font, 1);
}

void WControlButton::setChecked(bool checked)
{
    wplat::sendMessage(window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool WControlButton::isChecked() const
{
    return wplat::sendMessage(window, BM_GETCHECK, 0, 0) == (LRESULT)BST_CHECKED;
}

void WControlButton::setPushed(bool pushed)
{
    wplat::sendMessage(window, BM_SETSTATE, pushed ? 1 : 0, 0);
}

bool WControlButton::isPushed() const
{
    return (wplat::sendMessage(window, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
}
