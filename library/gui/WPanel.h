#pragma once

#include <memory>

#include "PlatformTypes.h"
#include "WWindow.h"

class WBitmap;
class WControl;
class WControlTab;

// A window that hosts child controls and receives its own events: it paints
// a background (brush or image), colours static texts, and turns the
// WM_COMMAND and WM_NOTIFY messages of its children into onPanelCommand and
// onPanelNotify with the control's id and wrapper.
class WPanel : public WWindow, public WWindow::EventHandler {
public:
    enum BkMode { BKMODE_UNSCALED = 1, BKMODE_CENTER = 2, BKMODE_TILED = 3 };

    WPanel();
    WPanel(const WPanel& other);
    WPanel& operator=(const WPanel& other);
    ~WPanel() override;

    virtual void onPanelCommand(unsigned long id, unsigned long code, WControl* control);
    virtual long onPanelNotify(unsigned long id, unsigned long code, WControl* control, const NMHDR* header);

    void setColor(unsigned long textColor, unsigned long backgroundColor);
    // Defined by the graphics library, which knows bitmaps; it hands the
    // image's platform bitmap to setBackgroundBitmap.
    void setBackgroundImage(const WBitmap& image, BkMode mode, bool eraseBackground);
    // The panel keeps its own copy of `bitmap`; the caller's may go at once.
    void setBackgroundBitmap(HBITMAP bitmap, BkMode mode, bool eraseBackground);
    void setTabControl(WControlTab& tab) { tabControl = &tab; }

    HBRUSH getBackgroundBrush() const { return backgroundBrush ? backgroundBrush->handle : nullptr; }
    unsigned long getTextColor() const { return textColor; }
    bool erasesBackground() const { return eraseBackground; }

    void onWindowRestore(HDC dc, const RECT& paintArea) override;
    void onWindowResize(unsigned long width, unsigned long height) override;
    LRESULT onWindowMessage(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam) override;

protected:
    void initialize();
    void setEraseBackground(bool erase) { eraseBackground = erase; }

private:
    // Copies share the brush; the last one releases it.
    struct Brush {
        HBRUSH handle;
        explicit Brush(HBRUSH h) : handle(h) { }
        ~Brush();
        Brush(const Brush&) = delete;
        Brush& operator=(const Brush&) = delete;
    };
    void copyFields(const WPanel& other);

    std::shared_ptr<Brush> backgroundBrush;
    unsigned long textColor;
    // The panel's own copy of its background image; copies share it.
    std::shared_ptr<void> backgroundBitmap;
    BkMode backgroundMode;
    bool eraseBackground;
    WControlTab* tabControl;
    RECT region;
};
