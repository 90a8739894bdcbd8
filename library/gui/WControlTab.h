#pragma once

#include "WControl.h"
#include "WHashtable.h"

// A tab strip whose pages are other windows, shown one at a time.
class WControlTab : public WControl {
public:
    // Passed on as the tab's own style bits.
    enum Style { STYLE_TABS = 0x0, STYLE_BUTTONS = 0x100, STYLE_MULTILINE = 0x200 };

    WControlTab();
    WControlTab(WWindowContext* owner, const char* controlName, Style style);
    WControlTab(const WControlTab& other);
    WControlTab& operator=(const WControlTab& other);
    ~WControlTab() override = default;

    // Attaching to a dialog item by id, as every control offers.
    using WControl::create;
    void create(WWindowContext* owner, const char* controlName, Style style);

    unsigned long addPage(unsigned long index, const char* title, HWND content);
    void removePage(unsigned long index);
    HWND getContentWindow(unsigned long index) const;
    unsigned long getPage() const { return currentPage; }
    void setFocusPage(unsigned long index);
    void setAutoFit(bool on, int offset);
    void calcWindowRect(unsigned long width, unsigned long height, RECT& rect);

private:
    unsigned long currentPage;
    WHashtable<unsigned long, HWND, unsigned long, HWND> pages;
    bool autoFit;
    int verticalOffset;
};
