#include "WWindowStyle.h"

WWindowStyle::WWindowStyle() : style(0), exStyle(0)
{
}

WWindowStyle::WWindowStyle(const char* name, unsigned long bits, unsigned long exBits)
    : className(name != nullptr ? name : ""), style(bits), exStyle(exBits)
{
}

WWindowStyle::WWindowStyle(const WWindowStyle& other)
    : className(other.className), style(other.style), exStyle(other.exStyle)
{
}

WWindowStyle& WWindowStyle::operator=(const WWindowStyle& other)
{
    className = other.className;
    style = other.style;
    exStyle = other.exStyle;
    return *this;
}

WWindowStyle::~WWindowStyle() = default;

void WWindowStyle::create(const char* name, unsigned long newStyle, unsigned long newExStyle)
{
    className = name != nullptr ? name : "";
    style = newStyle;
    exStyle = newExStyle;
}
