// Panels: background erasing, commands and notifications of children with
// their ids, and the colours handed to static texts.
#include <gtest/gtest.h>

#include "ControlTestSupport.h"
#include "ControlTypes.h"
#include "Controls.h"
#include "Platform.h"
#include "WControl.h"
#include "WPanel.h"
#include "WPanelClient.h"
#include "WWindowStyle.h"

namespace {

const char* const PANEL_CLASS = "PanelTestWindow";

class RecordingPanel : public WPanel {
public:
    void onPanelCommand(unsigned long id, unsigned long code, WControl* control) override
    {
        commands++;
        lastId = id;
        lastCode = code;
        lastControl = control;
    }
    long onPanelNotify(unsigned long id, unsigned long code, WControl*, const NMHDR*) override
    {
        notifies++;
        lastId = id;
        lastCode = code;
        return 17;
    }
    using WPanel::setEraseBackground;

    int commands = 0;
    int notifies = 0;
    unsigned long lastId = 0;
    unsigned long lastCode = 0;
    WControl* lastControl = nullptr;
};

// A class of windows run by the library's window procedure, once.
void registerWindowClass(const char* name)
{
    wplat::WindowClass cls;
    if (!wplat::getClassInfo(name, cls)) {
        cls.name = name;
        cls.proc = &WWindow::windowProc;
        wplat::registerClass(cls);
    }
}

class PanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { controltest::startUp("ZvPanelTest"); }
    void SetUp() override
    {
        registerWindowClass(PANEL_CLASS);
        panel.create(nullptr, "panel", &panel, WWindowStyle(PANEL_CLASS, WS_POPUP, 0), 0, 0, 120, 80);
        ASSERT_NE(panel.getWindowHandle(), nullptr);
    }

    COLORREF erasedColour(WPanel& p)
    {
        HDC dc = wplat::getDC(p.getWindowHandle());
        LRESULT erased = wplat::sendMessage(p.getWindowHandle(), WM_ERASEBKGND, (WPARAM)dc, 0);
        COLORREF c = erased != 0 ? wplat::getPixel(dc, 10, 10) : 0xFFFFFFFFu;
        wplat::releaseDC(p.getWindowHandle(), dc);
        return c;
    }

    RecordingPanel panel;
};

} // namespace

TEST_F(PanelTest, ErasesLightGreyWithoutABrushAndWithItsBrushOtherwise)
{
    EXPECT_EQ(erasedColour(panel), RGB(192, 192, 192));
    panel.setColor(RGB(1, 2, 3), RGB(10, 20, 30));
    EXPECT_EQ(erasedColour(panel), RGB(10, 20, 30));
    panel.setEraseBackground(false);
    EXPECT_EQ(erasedColour(panel), 0xFFFFFFFFu); // left to the default handling
}

TEST_F(PanelTest, CopiesShareTheBrushUntilTheLastGoes)
{
    panel.setColor(0, RGB(40, 50, 60));
    HBRUSH brush = panel.getBackgroundBrush();
    {
        WPanel copy(panel);
        EXPECT_EQ(copy.getBackgroundBrush(), brush);
    }
    EXPECT_EQ(erasedColour(panel), RGB(40, 50, 60));
}

TEST_F(PanelTest, CommandsCarryTheNumberOfANamedControlWithoutId)
{
    WControl child(&panel, "#42", WWindowStyle("STATIC", WS_CHILD | WS_VISIBLE, 0), 0, 0, 20, 10);
    LRESULT answer
        = wplat::sendMessage(panel.getWindowHandle(), WM_COMMAND, MAKEWPARAM(0, 5), (LPARAM)child.getWindowHandle());
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(panel.commands, 1);
    EXPECT_EQ(panel.lastId, 42u);
    EXPECT_EQ(panel.lastCode, 5u);
    EXPECT_EQ(panel.lastControl, &child);

    wplat::sendMessage(panel.getWindowHandle(), WM_COMMAND, 1099, 0);
    EXPECT_EQ(panel.lastId, 1099u);
    EXPECT_EQ(panel.lastControl, nullptr);
}

TEST_F(PanelTest, NotificationsButTabChangesReachTheHandler)
{
    WControl child(&panel, "#7", WWindowStyle("STATIC", WS_CHILD, 0), 0, 0, 20, 10);
    NMHDR header {child.getWindowHandle(), 0, (UINT)-551};
    EXPECT_EQ(wplat::sendMessage(panel.getWindowHandle(), WM_NOTIFY, 0, (LPARAM)&header), 0);
    EXPECT_EQ(panel.notifies, 0);
    header.code = NM_CLICK;
    EXPECT_EQ(wplat::sendMessage(panel.getWindowHandle(), WM_NOTIFY, 0, (LPARAM)&header), 17);
    EXPECT_EQ(panel.notifies, 1);
    EXPECT_EQ(panel.lastId, 7u);
}

TEST_F(PanelTest, StaticTextsGetTheBrushAndTextColour)
{
    HDC dc = wplat::getDC(panel.getWindowHandle());
    EXPECT_EQ(wplat::sendMessage(panel.getWindowHandle(), WM_CTLCOLORSTATIC, (WPARAM)dc, 0), 0);
    EXPECT_EQ(wplat::sendMessage(panel.getWindowHandle(), WM_CTLCOLORDLG, (WPARAM)dc, 0), 0);
    panel.setColor(RGB(200, 0, 0), RGB(0, 0, 200));
    LRESULT brush = wplat::sendMessage(panel.getWindowHandle(), WM_CTLCOLORSTATIC, (WPARAM)dc, 0);
    EXPECT_EQ((HBRUSH)brush, panel.getBackgroundBrush());
    EXPECT_EQ(wplat::setTextColor(dc, 0), RGB(200, 0, 0));
    EXPECT_EQ(
        (HBRUSH)wplat::sendMessage(panel.getWindowHandle(), WM_CTLCOLORDLG, (WPARAM)dc, 0), panel.getBackgroundBrush());
    wplat::releaseDC(panel.getWindowHandle(), dc);
}

TEST_F(PanelTest, PanelClientScrollsContentLargerThanTheWindow)
{
    registerWindowClass(WWindow::getClassName());
    WPanelClient client;
    client.create(&panel, &client, 500, 250);
    ASSERT_NE(client.getWindowHandle(), nullptr);
    WControl child(&client, "#1", WWindowStyle("STATIC", WS_CHILD, 0), 10, 10, 20, 10);

    client.resizeWindow(400, 300, false);
    const WPanelClient::ScrollInfo& bar = client.getScrollInfo(false);
    EXPECT_TRUE(bar.shown);
    EXPECT_EQ(bar.page, 400u);
    EXPECT_EQ(bar.maximum, 500);
    EXPECT_FALSE(client.getScrollInfo(true).shown);

    // A line step moves the content by one pixel.
    wplat::sendMessage(client.getWindowHandle(), WM_HSCROLL, 1 /* line down */, 0);
    EXPECT_EQ(client.getScrollX(), -1);
    RECT r;
    wplat::getWindowRect(child.getWindowHandle(), r);
    POINT at {r.left, r.top};
    wplat::screenToClient(client.getWindowHandle(), at);
    EXPECT_EQ(at.x, 9);

    // Wide enough again: the bar goes and the content is back at the origin.
    client.resizeWindow(500, 300, false);
    EXPECT_FALSE(client.getScrollInfo(false).shown);
    EXPECT_EQ(client.getScrollX(), 0);
    wplat::getWindowRect(child.getWindowHandle(), r);
    at = POINT {r.left, r.top};
    wplat::screenToClient(client.getWindowHandle(), at);
    EXPECT_EQ(at.x, 10);
}

namespace {

// A 2x2 bitmap: red, green / blue, white.
HBITMAP checkerBitmap()
{
    return controltest::tileBitmap(0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF);
}

COLORREF tileAt(int x, int y)
{
    static const COLORREF colours[2][2] = {{RGB(255, 0, 0), RGB(0, 255, 0)}, {RGB(0, 0, 255), RGB(255, 255, 255)}};
    return colours[y % 2][x % 2];
}

} // namespace

TEST_F(PanelTest, TiledBackgroundIsAPatternBrushOfItsOwnCopy)
{
    HBITMAP callers = checkerBitmap();
    panel.setBackgroundBitmap(callers, WPanel::BKMODE_TILED, true);
    // The caller's bitmap goes at once; the panel keeps painting its copy.
    wplat::deleteObject(wplat::toObject(callers));
    HWND h = panel.getWindowHandle();
    HDC dc = wplat::getDC(h);
    ASSERT_EQ(wplat::sendMessage(h, WM_ERASEBKGND, (WPARAM)dc, 0), 1);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 7; x++)
            EXPECT_EQ(wplat::getPixel(dc, x, y), tileAt(x, y)) << x << "," << y;
    EXPECT_EQ(wplat::getPixel(dc, 119, 79), tileAt(119, 79));

    // Static texts and a dialog's erase get the tiles as their brush.
    auto brush = (HBRUSH)wplat::sendMessage(h, WM_CTLCOLORSTATIC, (WPARAM)dc, 0);
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ((HBRUSH)wplat::sendMessage(h, WM_CTLCOLORDLG, (WPARAM)dc, 0), brush);
    wplat::releaseDC(h, dc);

    // A child at an odd position continues its parent's pattern.
    HWND child = wplat::createWindowEx(0, PANEL_CLASS, "", WS_CHILD, 3, 1, 10, 10, h, nullptr, nullptr, nullptr);
    HDC childDc = wplat::getDC(child);
    RECT area {0, 0, 10, 10};
    ASSERT_TRUE(wplat::fillRect(childDc, area, brush));
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 3; x++)
            EXPECT_EQ(wplat::getPixel(childDc, x, y), tileAt(x + 3, y + 1)) << x << "," << y;
    wplat::releaseDC(child, childDc);

    // Copies share the brush; it outlives the original panel's change.
    {
        WPanel copy(panel);
        EXPECT_EQ(copy.getBackgroundBrush(), brush);
    }
    HDC again = wplat::getDC(h);
    EXPECT_EQ(wplat::sendMessage(h, WM_CTLCOLORSTATIC, (WPARAM)again, 0), (LRESULT)brush);
    wplat::releaseDC(h, again);
}

TEST_F(PanelTest, PanelClientBarsAreShownAndDraggingTheThumbScrolls)
{
    wplat::registerControlClasses();
    registerWindowClass(WWindow::getClassName());
    WPanelClient client;
    client.create(&panel, &client, 400, 200);
    WControl child(&client, "#1", WWindowStyle("STATIC", WS_CHILD | WS_VISIBLE, 0), 10, 10, 20, 10);
    client.resizeWindow(100, 300, false);
    ASSERT_TRUE(client.getScrollInfo(false).shown);
    ASSERT_FALSE(client.getScrollInfo(true).shown);

    // The horizontal bar lies along the bottom edge, the whole width.
    HWND bar = nullptr;
    for (HWND c = wplat::getWindow(client.getWindowHandle(), GW_CHILD); c != nullptr;
         c = wplat::getWindow(c, GW_HWNDNEXT)) {
        if (wplat::getClassName(c) == "SCROLLBAR" && (wplat::getWindowLongPtr(c, GWL_STYLE) & WS_VISIBLE) != 0) bar = c;
    }
    ASSERT_NE(bar, nullptr);
    RECT barRect;
    wplat::getClientRect(bar, barRect);
    EXPECT_EQ(barRect.right, 100);
    SCROLLINFO si {sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    wplat::sendMessage(bar, SBM_GETSCROLLINFO, 0, (LPARAM)&si);
    EXPECT_EQ(si.nMax, 400);
    EXPECT_EQ(si.nPage, 100u);
    EXPECT_EQ(si.nPos, 0);

    // The thumb is drawn where the position says: a quarter of the track.
    HDC dc = wplat::getDC(bar);
    wplat::releaseDC(bar, dc);
    wplat::invalidateRect(bar, nullptr, true);
    wplat::updateWindow(bar);
    const wplat::PixelImage* shown = wplat::getBackingImage(bar);
    ASSERT_NE(shown, nullptr);
    int arrow = 16, track = 100 - 2 * 16;
    int thumb = track * 100 / 401;
    EXPECT_EQ(shown->pixel(arrow + 1, 8), 0x909090u);
    EXPECT_EQ(shown->pixel(arrow + thumb + 2, 8), 0xE8E8E8u);

    // Dragging the thumb: the content follows while it moves.
    wplat::sendMessage(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(arrow + 2, 8));
    wplat::sendMessage(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(arrow + 2 + 10, 8));
    int tracked = client.getScrollX();
    EXPECT_LT(tracked, 0);
    RECT r;
    wplat::getWindowRect(child.getWindowHandle(), r);
    POINT at {r.left, r.top};
    wplat::screenToClient(client.getWindowHandle(), at);
    EXPECT_EQ(at.x, 10 + tracked);
    wplat::sendMessage(bar, WM_LBUTTONUP, 0, MAKELPARAM(arrow + 2 + 10, 8));
    EXPECT_EQ(client.getScrollX(), tracked);
    EXPECT_EQ(client.getScrollInfo(false).position, -tracked);
    // The bar itself never scrolls away.
    wplat::getClientRect(bar, barRect);
    RECT barOnScreen, clientOnScreen;
    wplat::getWindowRect(bar, barOnScreen);
    wplat::getWindowRect(client.getWindowHandle(), clientOnScreen);
    EXPECT_EQ(barOnScreen.left, clientOnScreen.left);

    // A thumb-track request carries its own position.
    wplat::sendMessage(client.getWindowHandle(), WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 123), (LPARAM)bar);
    EXPECT_EQ(client.getScrollX(), -123);
    // A click in the track beyond the thumb pages on.
    wplat::sendMessage(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(arrow + track - 1, 8));
    EXPECT_EQ(client.getScrollX(), -223);
}

TEST_F(PanelTest, PanelClientBarsTakeTheirRoomFromTheClientArea)
{
    registerWindowClass(WWindow::getClassName());
    WPanel frame;
    frame.create(nullptr, "frame", &frame, WWindowStyle(PANEL_CLASS, WS_POPUP, 0), 0, 0, 420, 220);
    WPanelClient client;
    client.create(&frame, &client, 600, 400);
    client.resizeWindow(400, 200, false);
    HWND h = client.getWindowHandle();
    ASSERT_TRUE(client.getScrollInfo(false).shown);
    ASSERT_TRUE(client.getScrollInfo(true).shown);
    RECT area;
    wplat::getClientRect(h, area);
    EXPECT_EQ(area.right, 400 - 16);
    EXPECT_EQ(area.bottom, 200 - 16);
    EXPECT_EQ(client.getScrollInfo(false).page, 384u);
    EXPECT_EQ(client.getScrollInfo(true).page, 184u);

    // Drawing that fills the client area shows to its last row and column,
    // beside the bars; the corner between them has the bars' face.
    frame.showWindow();
    client.showWindow();
    MSG msg;
    while (wplat::peekMessage(msg, nullptr, wplat::Peek::Remove))
        wplat::dispatchMessage(msg);
    HDC dc = wplat::getDC(h);
    wplat::fillSolid(dc, RECT {0, 0, 1000, 1000}, RGB(0, 0, 0));
    wplat::releaseDC(h, dc);
    wplat::PixelImage shown;
    ASSERT_TRUE(wplat::grabWindow(frame.getWindowHandle(), shown));
    EXPECT_EQ(shown.pixel(area.right - 1, area.bottom - 1), 0u);
    EXPECT_NE(shown.pixel(area.right + 8, 100), 0u);
    EXPECT_NE(shown.pixel(100, area.bottom + 8), 0u);
    EXPECT_EQ(shown.pixel(area.right + 8, area.bottom + 8), wplat::rgbFromColorRef(wplat::getSysColor(COLOR_BTNFACE)));

    // Room enough again: the bars go and give their room back.
    client.resizeWindow(700, 500, false);
    EXPECT_FALSE(client.getScrollInfo(false).shown);
    EXPECT_FALSE(client.getScrollInfo(true).shown);
    wplat::getClientRect(h, area);
    EXPECT_EQ(area.right, 700);
    EXPECT_EQ(area.bottom, 500);
}
