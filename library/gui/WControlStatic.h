#pragma once

#include "WControl.h"
#include "WFont.h"

// A static text. Its style value is the window's extended style.
class WControlStatic : public WControl {
public:
    enum Style { STYLE_PLAIN = 0, STYLE_SUNKEN = 0x200, STYLE_STATICEDGE = 0x20000 };

    WControlStatic() = default;
    WControlStatic(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlStatic(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
        unsigned long height, Style style);
    WControlStatic(const WControlStatic& other) = default;
    WControlStatic& operator=(const WControlStatic& other) = default;
    ~WControlStatic() override = default;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width, unsigned long height,
        Style style);

    void setText(const char* text);
    void setFont(const WFont& font);
};
