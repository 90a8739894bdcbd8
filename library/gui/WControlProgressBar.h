#pragma once

#include "WControl.h"

// A progress bar: a position inside a range, advanced in steps.
class WControlProgressBar : public WControl {
public:
    enum Style { STYLE_DEFAULT = 0 };

    WControlProgressBar() = default;
    WControlProgressBar(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlProgressBar(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
        unsigned long height, Style style);
    WControlProgressBar(const WControlProgressBar& other) = default;
    WControlProgressBar& operator=(const WControlProgressBar& other) = default;
    ~WControlProgressBar() override = default;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width, unsigned long height,
        Style style);

    void setRange(unsigned long minimum, unsigned long maximum);
    void setStepSize(unsigned long step);
    void setPos(unsigned long position);
    void nextStep();
};
