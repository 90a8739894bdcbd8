#pragma once

// Internal to the control classes: the class registration, the library's
// default font and the window text as a WString.

#include "Controls.h"
#include "Platform.h"
#include "WFont.h"
#include "WString.h"
#include "WSystem.h"

namespace wcontrols {

inline HFONT defaultFont()
{
    return g_systemInfo.hasDefaultFont() ? (HFONT)g_systemInfo.getDefaultFont() : nullptr;
}

// The default height of one-line fields: the default font's points + 16.
inline unsigned long defaultHeight(unsigned long height)
{
    if (height != 0) return height;
    return (g_systemInfo.hasDefaultFont() ? g_systemInfo.getDefaultFont().getHeight() : 8) + 16;
}

inline void setDefaultFont(HWND window)
{
    if (window != nullptr) wplat::sendMessage(window, WM_SETFONT, (WPARAM)defaultFont(), 1);
}

// The whole window text into the string, growing it when it is too small.
inline void readWindowText(HWND window, WString& text)
{
    unsigned long n = window != nullptr ? (unsigned long)wplat::sendMessage(window, WM_GETTEXTLENGTH, 0, 0) : 0;
    if (n > 0) {
        if (text.getBufLength() < n + 1) text.resize(n);
        n = (unsigned long)wplat::sendMessage(window, WM_GETTEXT, (WPARAM)(n + 1), (LPARAM)text.getBuf());
    }
    text.truncate(n);
}

} // namespace wcontrols
