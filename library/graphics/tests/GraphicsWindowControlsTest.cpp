// Library controls on a graphics window: text controls with colours of
// their own are painted in them, as on a panel.
#include <gtest/gtest.h>

#include "Platform.h"
#include "W2DGraphicsWindow.h"
#include "WControlEdit.h"
#include "WControlStatic.h"
#include "WSystem.h"

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

class Window : public W2DGraphicsWindow {
public:
    Window() : W2DGraphicsWindow("controls", TYPE_WINDOW_REPAINT) { }
    ~Window() override { close(); }

protected:
    void onGraphicsWindowSlide(unsigned long) override { }
    void onGraphicsWindowCreate() override { }
    void onGraphicsWindowDestroy() override { }
    void onGraphicsWindowKeyPressed(int) override { }
};

WDisplayDevice screen()
{
    WDisplayDevice::MonitorInfo info {{0, 0, 640, 480}, {0, 0, 640, 480}};
    return WDisplayDevice("screen", "", true, info, nullptr);
}

} // namespace

TEST(GraphicsWindowControls, TextControlColours)
{
    (void)g_offscreen;
    // Start-up registers the window class and the standard controls.
    WSystem::startup("ZvGraphicsWindowControlsTest", nullptr, nullptr, (char*)"", 1);

    Window window;
    window.create(nullptr, 1, 1, 0, 0, 200, 100, screen(), 0, 0);
    ASSERT_NE(window.getWindowHandle(), nullptr);
    WControlEdit coloured(&window, "coloured", 5, 5, 100, 0, WControlEdit::STYLE_SINGLELINE, true);
    coloured.setColor(0x000000FF, 0x00FFFF00);
    WControlEdit plain(&window, "plain", 5, 35, 100, 0, WControlEdit::STYLE_SINGLELINE, true);
    WControlStatic label(&window, "label", 5, 65, 100, 0, WControlStatic::STYLE_STATICEDGE);
    ASSERT_NE(coloured.getBackColorBrush(), nullptr);

    HDC dc = wplat::createCompatibleDC(nullptr);
    struct Case {
        const char* name;
        HWND control;
        LRESULT brush;
    };
    for (const Case& c : {Case {"edit with colours", coloured.getWindowHandle(), LRESULT(coloured.getBackColorBrush())},
             Case {"edit without", plain.getWindowHandle(), 0}, Case {"not a text control", label.getWindowHandle(), 0},
             Case {"no control", nullptr, 0}}) {
        SCOPED_TRACE(c.name);
        wplat::setTextColor(dc, 0x00123456);
        EXPECT_EQ(
            wplat::sendMessage(window.getWindowHandle(), WM_CTLCOLOREDIT, WPARAM(dc), LPARAM(c.control)), c.brush);
        const COLORREF text = wplat::setTextColor(dc, 0);
        EXPECT_EQ(text, c.brush != 0 ? COLORREF(0x000000FF) : COLORREF(0x00123456));
    }
    wplat::deleteDC(dc);
}
