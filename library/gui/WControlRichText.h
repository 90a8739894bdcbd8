#pragma once

#include "WControl.h"
#include "WFont.h"

// A rich-edit field: selection, character format, link detection and
// loading from a file as rich or plain text.
class WControlRichText : public WControl {
public:
    enum Style { STYLE_EDITABLE = 0, STYLE_READONLY = 1 };

    WControlRichText() = default;
    WControlRichText(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlRichText(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
        unsigned long height, Style style, bool clientEdge);
    WControlRichText(const WControlRichText& other) = default;
    WControlRichText& operator=(const WControlRichText& other) = default;
    ~WControlRichText() override = default;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width, unsigned long height,
        Style style, bool clientEdge);

    void setText(const char* text);
    void getText(WString& text) const;
    unsigned long getTextLength() const;
    void getSelection(unsigned long& start, unsigned long& end) const;
    void setSelection(unsigned long start, unsigned long end);
    void replaceSelection(const char* text);
    void hideSelection(bool hide);
    void getTextSelected(WString& text) const;
    void getTextRange(WString& text, unsigned long start, unsigned long end) const;
    void setRichTextMode();
    void setPlainTextMode();
    void setURLDetection(bool on);
    void setBackColor(unsigned long color);
    void setFont(const WFont& font, bool all);
    void loadFile(const char* path, bool rtf);

    bool formatText(WString& text) const override;

private:
    void setEventMask(unsigned long mask);
};
