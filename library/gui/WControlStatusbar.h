#pragma once

#include "WControl.h"

// A status bar of parts along the bottom of its owner.
class WControlStatusbar : public WControl {
public:
    // Passed on as extended style bits.
    enum Style { STYLE_PLAIN = 0x0, STYLE_CLIENTEDGE = 0x200 };

    WControlStatusbar() = default;
    WControlStatusbar(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlStatusbar(WWindowContext* owner, const char* controlName, Style style);
    WControlStatusbar(const WControlStatusbar& other) = default;
    WControlStatusbar& operator=(const WControlStatusbar& other) = default;
    ~WControlStatusbar() override = default;

    // Attaching to a dialog item by id, as every control offers.
    using WControl::create;
    void create(WWindowContext* owner, const char* controlName, Style style);

    // The right edge of each part; -1 runs to the bar's end.
    void setParts(unsigned long count, const unsigned long* rightEdges);
    void setText(const char* text, unsigned long part);
    void adjust();
};
