#pragma once

#include <memory>

#include "WControl.h"
#include "WFont.h"

// A single-line, password or multi-line edit field with its own text and
// background colours; it drops leading and trailing blanks when it loses
// the focus.
class WControlEdit : public WControl {
public:
    enum Style { STYLE_SINGLELINE = 0, STYLE_PASSWORD = 1, STYLE_MULTILINE = 2 };

    WControlEdit();
    WControlEdit(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlEdit(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
        unsigned long height, Style style, bool clientEdge);
    WControlEdit(const WControlEdit& other);
    WControlEdit& operator=(const WControlEdit& other);
    ~WControlEdit() override;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width, unsigned long height,
        Style style, bool clientEdge);
    void destroy() override;

    void setText(const char* text);
    void getText(WString& text) const;
    void setFont(const WFont& font);
    void setColor(unsigned long textColor, unsigned long backColor);
    unsigned long getTextColor() const { return textColor; }
    unsigned long getBackColor() const { return backColor; }
    HBRUSH getBackColorBrush() const;
    void setReadOnly(bool readOnly);
    void setLowercase(bool on);
    void setUppercase(bool on);

    bool formatText(WString& text) const override;
    bool isTextControl() const override;

private:
    // Copies share the brush; the last one releases it.
    std::shared_ptr<void> brush;
    unsigned long textColor;
    unsigned long backColor;
};
