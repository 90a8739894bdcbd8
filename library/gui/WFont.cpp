#include "WFont.h"

#include <cstring>

#include "Platform.h"
#include "WException.h"

WFont::WFont() : color(0), size(0), trueHeight(0), style(0), weight(400), font(nullptr)
{
}

WFont::WFont(const char* faceName, unsigned long points, unsigned long styleBits, unsigned long fontWeight,
    unsigned long fontColor)
    : WFont()
{
    create(faceName, points, styleBits, fontWeight, fontColor);
}

WFont::WFont(const WFont& other) : WFont()
{
    duplicate(other);
}

WFont& WFont::operator=(const WFont& other)
{
    if (this != &other) duplicate(other);
    return *this;
}

WFont::~WFont()
{
    close();
}

void WFont::create(const char* faceName, unsigned long points, unsigned long styleBits, unsigned long fontWeight,
    unsigned long fontColor)
{
    close();
    LOGFONT logFont;
    memset(&logFont, 0, sizeof logFont);
    // Points to pixels at the screen's resolution, rounded to nearest.
    long dpi = wplat::screenDpi();
    long scaled = (long)points * dpi;
    long height = (scaled + 36) / 72;
    logFont.lfHeight = -(int32_t)height;
    logFont.lfItalic = (styleBits & STYLE_ITALIC) != 0 ? 1 : 0;
    logFont.lfUnderline = (styleBits & STYLE_UNDERLINE) != 0 ? 1 : 0;
    logFont.lfStrikeOut = (styleBits & STYLE_STRIKEOUT) != 0 ? 1 : 0;
    logFont.lfWeight = (int32_t)fontWeight;
    logFont.lfCharSet = DEFAULT_CHARSET;
    logFont.lfQuality = ANTIALIASED_QUALITY;
    strncpy(logFont.lfFaceName, faceName != nullptr ? faceName : "", 31);
    HFONT made = wplat::createFontIndirect(logFont);
    if (made == nullptr) {
        WFormattedString message("Cannot create font '%s' %upt", faceName != nullptr ? faceName : "", (unsigned)points);
        throw WFontException(message, -1);
    }
    font = made;
    color = fontColor;
    name = faceName != nullptr ? faceName : "";
    trueHeight = (unsigned long)height;
    style = styleBits;
    size = points;
    weight = fontWeight;
}

void WFont::duplicate(const WFont& other)
{
    if (this == &other) return;
    close();
    if (other.font != nullptr) create(other.name.getBuf(), other.size, other.style, other.weight, other.color);
}

void WFont::close()
{
    if (font == nullptr) return;
    wplat::deleteObject(wplat::toObject(font));
    initialize();
}

void WFont::initialize()
{
    font = nullptr;
    color = 0;
    size = 0;
    trueHeight = 0;
    style = 0;
    weight = 400;
}
