// The scroll bar control: its range, page and position, and the requests
// its arrows, track and thumb send to the parent.

#include <gtest/gtest.h>

#include <vector>

#include "Controls.h"
#include "Platform.h"

using namespace wplat;

namespace {

struct Request {
    UINT code;
    int position;
};
std::vector<Request> g_requests;

LRESULT parentProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_HSCROLL || m == WM_VSCROLL) {
        g_requests.push_back(Request {LOWORD(wp), (int)HIWORD(wp)});
        return 0;
    }
    return defWindowProc(w, m, wp, lp);
}

class ScrollBar : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        registerControlClasses();
        WindowClass cls;
        cls.name = "ZvScrollParent";
        cls.proc = parentProc;
        registerClass(cls);
    }
    void SetUp() override
    {
        parent = createWindowEx(
            0, "ZvScrollParent", "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr, nullptr, nullptr);
        // 116 long: arrows of 16 at both ends, a track of 84.
        bar = createWindowEx(
            0, "SCROLLBAR", "", WS_CHILD | WS_VISIBLE | SBS_HORZ, 0, 0, 116, 16, parent, nullptr, nullptr, nullptr);
        setInfo(0, 99, 25, 0);
        g_requests.clear();
    }
    void TearDown() override { destroyWindow(parent); }

    int setInfo(int minimum, int maximum, UINT page, int position)
    {
        SCROLLINFO si {sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, minimum, maximum, page, position, 0};
        return (int)sendMessage(bar, SBM_SETSCROLLINFO, 1, (LPARAM)&si);
    }
    SCROLLINFO info()
    {
        SCROLLINFO si {sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
        sendMessage(bar, SBM_GETSCROLLINFO, 0, (LPARAM)&si);
        return si;
    }
    void click(int x)
    {
        sendMessage(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 8));
        sendMessage(bar, WM_LBUTTONUP, 0, MAKELPARAM(x, 8));
    }

    HWND parent = nullptr;
    HWND bar = nullptr;
};

TEST_F(ScrollBar, PositionsStayWithinTheRangeLessAPage)
{
    struct Case {
        int minimum, maximum;
        UINT page;
        int position;
        int expected;
        UINT expectedPage;
    } cases[] = {
        {0, 99, 25, 50, 50, 25},
        {0, 99, 25, 90, 75, 25},
        {0, 99, 25, -5, 0, 25},
        {10, 20, 0, 30, 20, 0},
        {0, 9, 50, 5, 0, 10},
        {-50, 50, 1, -60, -50, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(setInfo(c.minimum, c.maximum, c.page, c.position), c.expected) << c.position;
        SCROLLINFO si = info();
        EXPECT_EQ(si.nMin, c.minimum);
        EXPECT_EQ(si.nMax, c.maximum);
        EXPECT_EQ(si.nPage, c.expectedPage);
        EXPECT_EQ(si.nPos, c.expected);
        EXPECT_EQ(sendMessage(bar, SBM_GETPOS, 0, 0), c.expected);
    }
    EXPECT_EQ(sendMessage(bar, SBM_SETPOS, 1000, 1), -50);
    EXPECT_EQ(sendMessage(bar, SBM_GETPOS, 0, 0), 50);
}

TEST_F(ScrollBar, ArrowsAndTrackAskTheParent)
{
    // The thumb covers a quarter of the track at position 0: 21 of 84 pixels.
    struct Case {
        int x;
        UINT code;
    } cases[] = {{2, SB_LINEUP}, {114, SB_LINEDOWN}, {16 + 60, SB_PAGEDOWN}};
    for (const Case& c : cases) {
        g_requests.clear();
        click(c.x);
        ASSERT_EQ(g_requests.size(), 2u) << c.x;
        EXPECT_EQ(g_requests[0].code, c.code) << c.x;
        EXPECT_EQ(g_requests[1].code, SB_ENDSCROLL) << c.x;
    }
    setInfo(0, 99, 25, 75);
    g_requests.clear();
    click(16 + 10);
    ASSERT_FALSE(g_requests.empty());
    EXPECT_EQ(g_requests[0].code, SB_PAGEUP);
}

TEST_F(ScrollBar, DraggingTheThumbTracksAndEndsWithItsPosition)
{
    sendMessage(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(16 + 5, 8));
    EXPECT_TRUE(g_requests.empty());
    // The thumb can travel 84 - 21 = 63 pixels for positions 0..75.
    sendMessage(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(16 + 5 + 21, 8));
    sendMessage(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(16 + 5 + 500, 8));
    sendMessage(bar, WM_LBUTTONUP, 0, MAKELPARAM(16 + 5 + 500, 8));
    ASSERT_EQ(g_requests.size(), 4u);
    EXPECT_EQ(g_requests[0].code, SB_THUMBTRACK);
    EXPECT_EQ(g_requests[0].position, 25);
    EXPECT_EQ(g_requests[1].code, SB_THUMBTRACK);
    EXPECT_EQ(g_requests[1].position, 75);
    EXPECT_EQ(g_requests[2].code, SB_THUMBPOSITION);
    EXPECT_EQ(g_requests[2].position, 75);
    EXPECT_EQ(g_requests[3].code, SB_ENDSCROLL);
    // The bar itself moves only when the parent says so.
    EXPECT_EQ(info().nPos, 0);
    SCROLLINFO si {sizeof(SCROLLINFO), SIF_TRACKPOS, 0, 0, 0, 0, 0};
    sendMessage(bar, SBM_GETSCROLLINFO, 0, (LPARAM)&si);
    EXPECT_EQ(si.nTrackPos, 0);
}

TEST_F(ScrollBar, TheThumbIsDrawnWhereThePositionIs)
{
    for (int position : {0, 75}) {
        setInfo(0, 99, 25, position);
        invalidateRect(bar, nullptr, true);
        updateWindow(bar);
        const PixelImage* image = getBackingImage(bar);
        ASSERT_NE(image, nullptr);
        int thumbStart = 16 + position * 63 / 75;
        EXPECT_EQ(image->pixel(thumbStart + 1, 8), 0x909090u) << position;
        EXPECT_EQ(image->pixel(thumbStart + 19, 8), 0x909090u) << position;
        int outside = position == 0 ? 16 + 30 : 16 + 10;
        EXPECT_EQ(image->pixel(outside, 8), 0xE8E8E8u) << position;
    }
}

} // namespace
