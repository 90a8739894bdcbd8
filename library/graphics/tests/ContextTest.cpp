// Drawing contexts bound to a window (no display needed: windows paint into
// their backing images before any user interface runs).
#include <gtest/gtest.h>

#include "Platform.h"
#include "W2DContextWindow.h"
#include "WException.h"

namespace {

HWND makeWindow(int x, int y, int w, int h)
{
    static bool registered = false;
    if (!registered) {
        wplat::WindowClass c;
        c.proc = wplat::defWindowProc;
        c.name = "ZvGraphicsTestWindow";
        registered = wplat::registerClass(c);
    }
    return wplat::createWindowEx(
        0, "ZvGraphicsTestWindow", "t", WS_POPUP, x, y, w, h, nullptr, nullptr, nullptr, nullptr);
}

class Holder : public WWindowContext {
public:
    explicit Holder(HWND h) { window = h; }
};

} // namespace

TEST(Context, AreaIsRelativeToTheMonitor)
{
    HWND hwnd = makeWindow(100, 50, 40, 30);
    ASSERT_NE(hwnd, nullptr);
    Holder holder(hwnd);
    WDisplayDevice::MonitorInfo info {{1280, 0, 2560, 1024}, {1280, 0, 2560, 1024}};
    WDisplayDevice second("second", "", false, info, nullptr);
    W2DContextWindow ctx;
    ctx.create(holder, second, WDisplayMode(1280, 1024, 32, 60), 0, false, 3, 4);
    RECT area;
    ctx.getArea(area);
    EXPECT_EQ(area.left, -1180);
    EXPECT_EQ(area.top, 50);
    EXPECT_EQ(area.right, -1140);
    EXPECT_EQ(area.bottom, 80);
    EXPECT_EQ(ctx.getOffsetX(), 3);
    EXPECT_EQ(ctx.getOffsetY(), 4);
    EXPECT_FALSE(ctx.isExclusiveMode());
    EXPECT_EQ(ctx.getDisplayMode().getBPP(), 32u);
    W2DSurfaceOffscreen none;
    EXPECT_THROW(ctx.getSurfacePrimary().getBackBuffer(none), WDirectXException);
    ctx.setExclusiveMode();
    EXPECT_TRUE(ctx.isExclusiveMode());
    ctx.setWindowMode();
    EXPECT_FALSE(ctx.isExclusiveMode());
    ctx.close();
    wplat::destroyWindow(hwnd);
}

TEST(Context, PrimaryPixelsReachTheWindow)
{
    HWND hwnd = makeWindow(10, 20, 16, 8);
    ASSERT_NE(hwnd, nullptr);
    Holder holder(hwnd);
    W2DContextWindow ctx;
    ctx.create(holder, WDisplayDevice(), WDisplayMode(), 1, false, 0, 0);
    RECT area;
    ctx.getArea(area);
    EXPECT_EQ(area.left, 10); // primary display: the window's own area
    EXPECT_EQ(area.top, 20);

    W2DSurfaceOffscreen back;
    ctx.getSurfacePrimary().getBackBuffer(back);
    back.erase(0x000000FF); // red
    ctx.getSurfacePrimary().flip();
    const wplat::PixelImage* shown = wplat::getBackingImage(hwnd);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->pixel(5, 5), 0xFF0000u);

    W2DSurfaceOffscreen dot;
    dot.create(ctx, 2, 2);
    dot.erase(0x00FF0000); // blue
    ctx.getSurfacePrimary().draw(dot, 12, 21); // primary coordinates
    EXPECT_EQ(wplat::getBackingImage(hwnd)->pixel(2, 1), 0x0000FFu);
    EXPECT_EQ(wplat::getBackingImage(hwnd)->pixel(4, 1), 0xFF0000u);
    wplat::destroyWindow(hwnd);
}

namespace {

class PlainContext : public W2DContext {
public:
    PlainContext()
    {
        openDevice();
        getSurfacePrimary().create(*this, 0);
    }
    void getArea(RECT& out) const override { out = RECT {0, 0, 10, 10}; }
};

// Horizontal centre of the pixels that are not black; -1 without ink.
double inkCentre(const wplat::PixelImage& img)
{
    double sum = 0;
    long count = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != 0) {
                sum += x;
                ++count;
            }
    return count ? sum / double(count) : -1;
}

} // namespace

TEST(Context, TextAlignment)
{
    // Text is drawn by the window layer's substrate, headless on its
    // off-screen platform.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The thread's queue must exist before the user interface starts on it
    // (startUi on a thread without one waits for ever).
    MSG msg;
    wplat::peekMessage(msg, nullptr, wplat::Peek::Keep);
    if (wplat::startUi() == wplat::UiStart::NoDisplay) GTEST_SKIP() << "no user interface";
    PlainContext ctx;
    double centres[4] = {0, 0, 0, 0};
    for (int align = 1; align <= 3; ++align) {
        W2DSurfaceOffscreen s;
        s.create(ctx, 300, 40);
        HDC dc = s.getDC();
        ASSERT_NE(dc, nullptr);
        W2DGraphics::drawText(dc, RECT {0, 0, 300, 40}, WString("Wide text"), nullptr, 0x00FFFFFF,
            static_cast<W2DGraphics::TextAlign>(align));
        s.releaseDC();
        centres[align] = inkCentre(*s.getImage());
    }
    if (centres[1] < 0) GTEST_SKIP() << "no text rendering without a user interface";
    EXPECT_LT(centres[1], 100); // left
    EXPECT_GT(centres[2], 200); // right
    EXPECT_NEAR(centres[3], 150, 15); // centred
}
