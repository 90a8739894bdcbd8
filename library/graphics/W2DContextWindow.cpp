#include "W2DContextWindow.h"

#include "Platform.h"
#include "internal/SurfaceMemory.h"

W2DContextWindow::W2DContextWindow() : exclusive(false), monitorTop(0), monitorLeft(0)
{
}

W2DContextWindow::~W2DContextWindow()
{
    try {
        close();
    } catch (...) {
    }
}

void W2DContextWindow::close()
{
    W2DContext::close();
}

void W2DContextWindow::create(const WWindowContext& target, const WDisplayDevice& display, const WDisplayMode& mode,
    unsigned long backBufferCount, bool exclusiveMode, int xOffset, int yOffset)
{
    close();
    setOffsets(xOffset, yOffset);
    window = target;
    displayMode = mode; // recorded only: the resolution is never switched
    monitorLeft = monitorTop = 0;
    if (display.isMonitorInfo()) {
        monitorLeft = display.getMonitorInfo().monitorArea.left;
        monitorTop = display.getMonitorInfo().monitorArea.top;
    }
    openDevice();
    if (exclusiveMode)
        setExclusiveMode();
    else
        setWindowMode();
    getSurfacePrimary().create(*this, backBufferCount);
    getSurfacePrimary().setClipWindow(window.getWindowHandle());
}

// Exclusive use of the display means nothing more here than the flag: the
// window itself covers the monitor when its owner sizes it so.
void W2DContextWindow::setExclusiveMode()
{
    exclusive = true;
}

void W2DContextWindow::setWindowMode()
{
    exclusive = false;
}

void W2DContextWindow::getArea(RECT& area) const
{
    window.getWindowArea(area);
    area.left -= monitorLeft;
    area.right -= monitorLeft;
    area.top -= monitorTop;
    area.bottom -= monitorTop;
}

// Copies the primary pixels into the window; the window layer shows them.
void W2DContextWindow::presentPrimary() const
{
    HWND handle = window.getWindowHandle();
    const wplat::PixelImage* pixels = getSurfacePrimary().getImage();
    if (handle == nullptr || pixels == nullptr) return;
    HDC windowDC = wplat::getDC(handle);
    if (windowDC == nullptr) return;
    POINT origin {0, 0};
    if (wplat::PixelImage* target = wplat::getDCImage(windowDC, &origin)) {
        for (int y = 0; y < pixels->height(); ++y)
            for (int x = 0; x < pixels->width(); ++x)
                target->setPixel(x + origin.x, y + origin.y, pixels->pixel(x, y));
    }
    wplat::releaseDC(handle, windowDC);
}

namespace {

// Transparent text in the colour, in the font when one is given.
void prepareText(HDC dc, HFONT font, unsigned long colour)
{
    wplat::setTextColor(dc, static_cast<COLORREF>(colour));
    wplat::setBkMode(dc, TRANSPARENT);
    if (font != nullptr) wplat::selectObject(dc, wplat::toObject(font));
}

} // namespace

void W2DGraphics::drawText(
    HDC dc, const RECT& area, const WString& text, HFONT font, unsigned long colour, TextAlign align)
{
    if (dc == nullptr) return;
    prepareText(dc, font, colour);
    UINT format = align == ALIGN_RIGHT ? DT_RIGHT : align == ALIGN_CENTER ? DT_CENTER : DT_LEFT;
    RECT r = area;
    wplat::drawText(dc, text.getBuf(), static_cast<int>(text.length()), r, format);
}

void W2DGraphics::drawText(HDC dc, int x, int y, const WString& text, HFONT font, unsigned long colour)
{
    if (dc == nullptr) return;
    prepareText(dc, font, colour);
    wplat::textOut(dc, x, y, text.getBuf(), static_cast<int>(text.length()));
}
