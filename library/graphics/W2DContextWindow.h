#pragma once
// A drawing context bound to a window on one display device: its area is
// the window's rectangle relative to the device's monitor, and the primary
// surface's pixels are shown in the window whenever they change.

#include "W2DContext.h"
#include "WDisplayDevice.h"
#include "WDisplayMode.h"
#include "WWindow.h"

class W2DContextWindow : public W2DContext {
public:
    W2DContextWindow();
    ~W2DContextWindow() override;

    void create(const WWindowContext& window, const WDisplayDevice& device, const WDisplayMode& mode,
        unsigned long backBufferCount, bool exclusive, int offsetX, int offsetY);
    void setExclusiveMode();
    void setWindowMode();
    bool isExclusiveMode() const { return exclusive; }
    // Refers to the caller's window; never destroys it.
    const WWindowContext& getWindow() const { return window; }
    const WDisplayMode& getDisplayMode() const { return displayMode; }
    void close();

    void getArea(RECT& area) const override;
    void presentPrimary() const override;

private:
    WWindowContext window;
    WDisplayMode displayMode;
    bool exclusive;
    int monitorTop;
    int monitorLeft;
};

// Text on any device context, in the context's font handling.
class W2DGraphics {
public:
    enum TextAlign { ALIGN_LEFT = 1, ALIGN_RIGHT = 2, ALIGN_CENTER = 3 };

    W2DGraphics() : dc(nullptr) { }
    explicit W2DGraphics(HDC context) : dc(context) { }
    W2DGraphics(const W2DGraphics& other) = default;
    W2DGraphics& operator=(const W2DGraphics& other) = default;
    virtual ~W2DGraphics() = default;
    operator HDC() const { return dc; }

    // align 2 right, 3 centred, anything else left; transparent background;
    // the font stays selected.
    static void drawText(
        HDC dc, const RECT& area, const WString& text, HFONT font, unsigned long colour, TextAlign align);
    static void drawText(HDC dc, int x, int y, const WString& text, HFONT font, unsigned long colour);

private:
    HDC dc;
};
