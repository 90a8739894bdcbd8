#include "WControlToolbar.h"

#include <cstring>

#include "internal/WControlHelpers.h"

WControlToolbar::WControlToolbar()
{
    initialize();
}

WControlToolbar::WControlToolbar(WWindowContext* owner, const char* controlName, Style style) : WControlToolbar()
{
    create(owner, controlName, style);
}

void WControlToolbar::initialize()
{
    memset(&button, 0, sizeof button);
    imageList = nullptr;
}

void WControlToolbar::create(WWindowContext* owner, const char* controlName, Style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    WControl::create(owner, controlName, WWindowStyle("ToolbarWindow32", 0x50009946, 0), 0, 0, 0, 0);
    wplat::sendMessage(window, TB_BUTTONSTRUCTSIZE, kToolbarButtonSize32, 0);
    wplat::sendMessage(window, CCM_SETVERSION, 5, 0);
    wplat::sendMessage(window, TB_SETEXTENDEDSTYLE, 0, 0x18);
}

void WControlToolbar::addButton(unsigned long command, unsigned long image, const char* text)
{
    memset(&button, 0, sizeof button);
    button.iBitmap = (int)(image & 0xFFFF);
    button.idCommand = (int)command;
    button.fsState = TBSTATE_ENABLED;
    bool label = text != nullptr && text[0] != '\0';
    button.fsStyle = label ? (BTNS_AUTOSIZE | BTNS_SHOWTEXT) : BTNS_AUTOSIZE;
    button.iString = label ? (intptr_t)text : -1;
    if (window != nullptr) wplat::sendMessage(window, TB_ADDBUTTONSA, 1, (LPARAM)&button);
}

void WControlToolbar::addSeparator(unsigned long width)
{
    memset(&button, 0, sizeof button);
    button.iBitmap = (int)width;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = BTNS_SEP;
    button.iString = -1;
    if (window != nullptr) wplat::sendMessage(window, TB_ADDBUTTONSA, 1, (LPARAM)&button);
}

void WControlToolbar::setImageList(HIMAGELIST normal, HIMAGELIST hot)
{
    imageList = normal;
    if (window == nullptr) return;
    wplat::sendMessage(window, TB_SETIMAGELIST, 0, (LPARAM)normal);
    if (hot != nullptr) wplat::sendMessage(window, TB_SETHOTIMAGELIST, 0, (LPARAM)hot);
}

unsigned long WControlToolbar::getControlHeight() const
{
    return 40;
}
