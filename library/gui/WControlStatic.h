#pragma once

#include "WControl.h"
#include "WFont.h"

// A static text. Its style value is the window's extended style.
class WControlStatic : public WControl {
public:
    enum Style { STYLE_PLAIN = 0, STYLE_SUNKEN = 0x200, STYLE_STATICEDGE = 0x20000 };

    WControlStatic() = default;
    WControlStatic(WWindowContext* context, const char* name, unsigned long dialogItemId);
    WControlStatic(WWindowContext* context, const char* name, int x, int y, unsigned long width,
                   unsigned long height, Style style);
    WControlStatic(const WControlStatic& other) = default;
    WControlStatic& operator=(const WControlStatic& other) = default;
    ~WControlStatic() override = default;

    void create(WWindowContext* context, const char* name, unsigned long dialogItemId);
    void create(WWindowContext* context, const char* name, int x, int y, unsigned long width, unsigned long height,
                Style style);

    void setText(const char* text);
    void setFont(const WFont& font);
};
