#pragma once

#include "WString.h"

// The class name and style bits of a native window to be created.
class WWindowStyle {
public:
    WWindowStyle();
    WWindowStyle(const char* className, unsigned long style, unsigned long exStyle);
    WWindowStyle(const WWindowStyle& other);
    WWindowStyle& operator=(const WWindowStyle& other);
    ~WWindowStyle();

    void create(const char* className, unsigned long style, unsigned long exStyle);
    const char* getClassName() const { return className.getBuf(); }
    unsigned long getStyle() const { return style; }
    unsigned long getStyleEx() const { return exStyle; }

private:
    WString className;
    unsigned long style;
    unsigned long exStyle;
};
