#pragma once

#include "WControl.h"
#include "WFont.h"

// Push buttons, radio buttons and check boxes.
class WControlButton : public WControl {
public:
    enum Style { STYLE_PUSHBUTTON = 0, STYLE_RADIOBUTTON = 1, STYLE_CHECKBOX = 2 };

    WControlButton() = default;
    WControlButton(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlButton(WWindowContext* owner, const char* controlName, const char* text, int x, int y, unsigned long width,
        unsigned long height, Style style);
    WControlButton(const WControlButton& other) = default;
    WControlButton& operator=(const WControlButton& other) = default;
    ~WControlButton() override = default;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, const char* text, int x, int y, unsigned long width,
        unsigned long height, Style style);

    void setText(const char* text);
    void setFont(const WFont& font);
    void setChecked(bool checked);
    bool isChecked() const;
    void setPushed(bool pushed);
    bool isPushed() const;
};
