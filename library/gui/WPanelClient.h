#pragma once

#include "WPanel.h"

// A panel with a scrollable client area: content larger than the window is
// scrolled pixel by pixel with the horizontal and vertical bars. The bars'
// state (range, page, position, shown) is kept here and shown by two scroll
// bar children in the room the window keeps for its own bars at its right
// and bottom, outside the client area.
class WPanelClient : public WPanel {
public:
    // One scroll bar: range 0..maximum, page and position in pixels.
    struct ScrollInfo {
        unsigned long size = 28;
        int minimum = 0;
        int maximum = 0;
        unsigned long page = 0;
        int position = 0;
        int trackPosition = 0;
        bool shown = false;
    };

    WPanelClient();
    WPanelClient(const WPanelClient& other);
    WPanelClient& operator=(const WPanelClient& other);
    ~WPanelClient() override;

    // A child covering the parent's client area; its content never scrolls.
    void create(WWindowContext* parent, WWindow::EventHandler* handler);
    // A child at 0,0 of the given size, whose content is width by height.
    void create(WWindowContext* parent, WWindow::EventHandler* handler, unsigned long width, unsigned long height);

    const ScrollInfo& getScrollInfo(bool vertical) const { return vertical ? vertical_ : horizontal; }
    int getScrollX() const { return scrollX; }
    int getScrollY() const { return scrollY; }

    void onWindowResize(unsigned long width, unsigned long height) override;
    LRESULT onWindowMessage(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam) override;

private:
    void copyScroll(const WPanelClient& other);
    void scroll(bool vertical, unsigned int request, int thumb);
    void moveContent(int dx, int dy);
    void finishCreate(unsigned long width, unsigned long height);
    // Shows each bar's state in its window, placed in the room beside the
    // client area.
    void showBars();
    // Gives the window room for the bars its content needs (WS_HSCROLL,
    // WS_VSCROLL); whether the client area changed.
    bool giveBarsRoom();
    bool isBar(HWND child) const { return child != nullptr && (child == barH || child == barV); }

    ScrollInfo scrollInfo;
    unsigned long contentWidth;
    unsigned long contentHeight;
    unsigned long clientWidth;
    unsigned long clientHeight;
    int scrollX;
    int scrollY;
    ScrollInfo horizontal;
    ScrollInfo vertical_;
    HWND barH;
    HWND barV;
};
