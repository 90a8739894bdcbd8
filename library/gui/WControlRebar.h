#pragma once

#include "ControlTypes.h"
#include "WControl.h"
#include "WHashtable.h"

// A band container hosting other controls; Tab moves the focus among the
// controls created with the rebar as their owner.
class WControlRebar : public WControl {
public:
    // Passed on as extended style bits.
    enum Style { STYLE_PLAIN = 0x0, STYLE_CLIENTEDGE = 0x200 };

    WControlRebar();
    WControlRebar(WWindowContext* owner, Style style);
    WControlRebar(const WControlRebar& other);
    WControlRebar& operator=(const WControlRebar& other);
    ~WControlRebar() override;

    // Attaching to a dialog item by id, as every control offers.
    using WControl::create;
    void create(WWindowContext* owner, Style style);
    void destroy() override;

    void addControl(const WControl& control, const char* text, unsigned long width, unsigned long minWidth);
    void setColor(unsigned long foreground, unsigned long background);
    void setBackgroundImage(HBITMAP bitmap);
    void adjust(int y);
    unsigned long getBandCount() const { return bands.size(); }

protected:
    bool setFocusNextControl(WControl& control, bool returnKey) override;

private:
    void resetRecords();

    REBARINFO barInfo;
    REBARBANDINFOA bandTemplate;
    WHashtable<unsigned long, WControl*, unsigned long, WControl*> bands;
};
