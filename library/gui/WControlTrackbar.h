#pragma once

#include "WControl.h"

// A slider over a range of positions.
class WControlTrackbar : public WControl {
public:
    // Only the first style has ticks and a selection range.
    enum Style { STYLE_TICKS = 0, STYLE_PLAIN = 1 };

    WControlTrackbar() = default;
    WControlTrackbar(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlTrackbar(WWindowContext* owner, const char* controlName, const char* text, int x, int y,
        unsigned long width, unsigned long height, Style style);
    WControlTrackbar(const WControlTrackbar& other) = default;
    WControlTrackbar& operator=(const WControlTrackbar& other) = default;
    ~WControlTrackbar() override = default;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, const char* text, int x, int y, unsigned long width,
        unsigned long height, Style style);

    void setRange(int minimum, int maximum, unsigned long tick);
    void setPos(int position);
    int getPos() const;
    void setTickFreq(unsigned long frequency);
    void setPageSize(unsigned long size);
};
