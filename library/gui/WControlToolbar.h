#pragma once

#include "ControlTypes.h"
#include "WControl.h"

// A toolbar of buttons with images and optional labels; it reports a fixed
// height of 40 to the bands that host it.
class WControlToolbar : public WControl {
public:
    enum Style { STYLE_DEFAULT = 0 };

    WControlToolbar();
    WControlToolbar(WWindowContext* owner, const char* controlName, Style style);
    WControlToolbar(const WControlToolbar& other) = default;
    WControlToolbar& operator=(const WControlToolbar& other) = default;
    ~WControlToolbar() override = default;

    // Attaching to a dialog item by id, as every control offers.
    using WControl::create;
    void create(WWindowContext* owner, const char* controlName, Style style);

    void addButton(unsigned long command, unsigned long image, const char* text);
    void addSeparator(unsigned long width);
    void setImageList(HIMAGELIST normal, HIMAGELIST hot);
    unsigned long getControlHeight() const override;

private:
    void initialize();

    TBBUTTON button;
    HIMAGELIST imageList;
};
