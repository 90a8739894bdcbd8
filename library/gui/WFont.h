#pragma once

#include "PlatformTypes.h"
#include "WString.h"

// A font by face name, points, style bits (1 italic, 2 underline, 4
// strike-out), weight and colour, owning the native font made from them.
class WFont {
public:
    enum StyleBits : unsigned long { STYLE_ITALIC = 1, STYLE_UNDERLINE = 2, STYLE_STRIKEOUT = 4 };

    WFont();
    WFont(const char* name, unsigned long points, unsigned long style, unsigned long weight, unsigned long color);
    WFont(const WFont& other);
    WFont& operator=(const WFont& other);
    ~WFont();

    void create(const char* name, unsigned long points, unsigned long style, unsigned long weight, unsigned long color);
    void duplicate(const WFont& other);
    void close();
    void initialize();

    const WString& getName() const { return name; }
    const unsigned long& getColor() const { return color; }
    unsigned long getHeight() const { return size; }
    unsigned long getTrueHeight() const { return trueHeight; }
    unsigned long getStyle() const { return style; }
    unsigned long getWeight() const { return weight; }
    operator HFONT() const { return font; }

private:
    WString name;
    unsigned long color;
    unsigned long size;
    unsigned long trueHeight;
    unsigned long style;
    unsigned long weight;
    HFONT font;
};
