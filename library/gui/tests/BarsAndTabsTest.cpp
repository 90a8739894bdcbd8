// Tab strips with their pages, rebars and focus among their bands,
// toolbars, status bars, trackbars and progress bars.

#include <gtest/gtest.h>

#include <memory>

#include "ControlTestSupport.h"
#include "WControlEdit.h"
#include "WControlProgressBar.h"
#include "WControlRebar.h"
#include "WControlStatusbar.h"
#include "WControlTab.h"
#include "WControlToolbar.h"
#include "WControlTrackbar.h"

using namespace controltest;

namespace {

class BarsAndTabs : public OwnedControlsTest {
protected:
    static void SetUpTestSuite() { startUp("ZvBarsAndTabsTest"); }

    HWND page(int height = 50)
    {
        return wplat::createWindowEx(
            0, "ZvRecorder", "", WS_CHILD, 0, 0, 80, height, parent, nullptr, nullptr, nullptr);
    }
    static RECT rectIn(HWND w, HWND of)
    {
        RECT r;
        wplat::getWindowRect(w, r);
        POINT p {r.left, r.top};
        wplat::screenToClient(of, p);
        return RECT {p.x, p.y, p.x + r.right - r.left, p.y + r.bottom - r.top};
    }
};

TEST_F(BarsAndTabs, TabCoversItsContextAndShowsOnePageAtATime)
{
    WControlTab tab(owner.get(), "tabs", WControlTab::STYLE_TABS);
    HWND h = tab.getWindowHandle();
    RECT client;
    wplat::getClientRect(parent, client);
    EXPECT_EQ(tab.getWindowWidth(), (unsigned long)client.right);
    EXPECT_EQ(tab.getWindowHeight(), (unsigned long)client.bottom);
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_STYLE), (LONG_PTR)(0x54000000 | WS_TABSTOP));
    HWND pages[3] = {page(), page(), page()};
    EXPECT_EQ(tab.addPage(0, "General", pages[0]), 0u);
    EXPECT_EQ(tab.addPage(1, "Server", pages[1]), 1u);
    EXPECT_EQ(tab.addPage(2, "Log", pages[2]), 2u);
    EXPECT_EQ(wplat::sendMessage(h, TCM_GETITEMCOUNT, 0, 0), 3);

    tab.setFocusPage(0);
    tab.setFocusPage(1);
    EXPECT_FALSE(wplat::isWindowVisible(pages[0]));
    EXPECT_TRUE(wplat::isWindowVisible(pages[1]));
    EXPECT_EQ(tab.getPage(), 1u);
    EXPECT_EQ(wplat::sendMessage(h, TCM_GETCURSEL, 0, 0), 1);
    // Auto fit: the page fills the display area.
    RECT area;
    wplat::getClientRect(h, area);
    wplat::sendMessage(h, TCM_ADJUSTRECT, 0, (LPARAM)&area);
    RECT placed = rectIn(pages[1], h);
    EXPECT_EQ(placed.left, area.left);
    EXPECT_EQ(placed.top, area.top);
    EXPECT_EQ(placed.right, area.right);
    EXPECT_EQ(placed.bottom, area.bottom);
    // A page without content: the old one hides, the strip keeps its choice.
    tab.setFocusPage(7);
    EXPECT_FALSE(wplat::isWindowVisible(pages[1]));
    EXPECT_EQ(tab.getPage(), 7u);
    EXPECT_EQ(wplat::sendMessage(h, TCM_GETCURSEL, 0, 0), 1);
    // Later pages keep their keys when an earlier one goes.
    tab.removePage(0);
    EXPECT_EQ(tab.getContentWindow(0), nullptr);
    EXPECT_EQ(tab.getContentWindow(1), pages[1]);
    EXPECT_EQ(tab.getContentWindow(2), pages[2]);
    EXPECT_EQ(wplat::sendMessage(h, TCM_GETITEMCOUNT, 0, 0), 2);
}

TEST_F(BarsAndTabs, PagesWithoutAutoFitKeepTheirSize)
{
    WControlTab tab(owner.get(), "tabs", WControlTab::STYLE_TABS);
    HWND h = tab.getWindowHandle();
    HWND content = page(40);
    tab.addPage(0, "One", content);
    tab.setAutoFit(false, 10);
    tab.setFocusPage(0);
    RECT area;
    wplat::getClientRect(h, area);
    wplat::sendMessage(h, TCM_ADJUSTRECT, 0, (LPARAM)&area);
    RECT placed = rectIn(content, h);
    EXPECT_EQ(placed.left, area.left);
    EXPECT_EQ(placed.top, area.top + 10);
    EXPECT_EQ(placed.right - placed.left, 80);
    EXPECT_EQ(placed.bottom - placed.top, 40);
    EXPECT_TRUE(wplat::isWindowVisible(content));
}

TEST_F(BarsAndTabs, WindowRectForADisplayArea)
{
    WControlTab tab(owner.get(), "tabs", WControlTab::STYLE_TABS);
    WControlTab none;
    for (WControlTab* t : {&tab, &none}) {
        RECT r;
        t->calcWindowRect(200, 100, r);
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.top, 0);
        EXPECT_GE(r.right, 200);
        EXPECT_GE(r.bottom, 100);
    }
    RECT r;
    tab.calcWindowRect(200, 100, r);
    // Giving the tab that rectangle gives back the asked display area.
    RECT back = r;
    wplat::sendMessage(tab.getWindowHandle(), TCM_ADJUSTRECT, 0, (LPARAM)&back);
    EXPECT_EQ(back.right - back.left, 200);
    EXPECT_EQ(back.bottom - back.top, 100);
}

TEST_F(BarsAndTabs, PickingATabNotifiesTheParent)
{
    HWND h = wplat::createWindowEx(0, "SysTabControl32", "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, parent,
        (HMENU)(intptr_t)1100, nullptr, nullptr);
    WControlTab tab;
    tab.create(owner.get(), "tabs", 1100);
    tab.addPage(0, "A", nullptr);
    tab.addPage(1, "B", nullptr);
    notes().clear();
    wplat::sendMessage(h, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(wplat::sendMessage(h, TCM_GETCURSEL, 0, 0), 1);
    auto n = notesOf(WM_NOTIFY);
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].code, TCN_SELCHANGING);
    EXPECT_EQ(n[1].code, TCN_SELCHANGE);
    EXPECT_EQ(n[1].id, 1100u);
    // Set by the program: no notification.
    tab.setFocusPage(0);
    EXPECT_EQ(notesOf(WM_NOTIFY).size(), 2u);
}

// A parent that refuses every change of tab.
LRESULT refusingProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_NOTIFY && ((const NMHDR*)lp)->code == TCN_SELCHANGING) return 1;
    return wplat::defWindowProc(w, m, wp, lp);
}

TEST_F(BarsAndTabs, TheParentMayRefuseATab)
{
    wplat::WindowClass cls;
    cls.name = "ZvRefusing";
    cls.proc = refusingProc;
    wplat::registerClass(cls);
    HWND refusing = wplat::createWindowEx(
        0, "ZvRefusing", "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    Owner other(refusing);
    WControlTab tab(&other, "tabs", WControlTab::STYLE_TABS);
    tab.addPage(0, "A", nullptr);
    tab.addPage(1, "B", nullptr);
    wplat::sendMessage(tab.getWindowHandle(), WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(wplat::sendMessage(tab.getWindowHandle(), TCM_GETCURSEL, 0, 0), 0);
    wplat::destroyWindow(refusing);
}

TEST_F(BarsAndTabs, RebarHostsControlsAndCyclesTheFocus)
{
    WControlRebar rebar(owner.get(), WControlRebar::STYLE_PLAIN);
    HWND h = rebar.getWindowHandle();
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_STYLE), (LONG_PTR)(0x56809648 | WS_TABSTOP));
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_EXSTYLE), (LONG_PTR)0x80);
    WControlEdit first(&rebar, "first", 0, 0, 80, 0, WControlEdit::STYLE_SINGLELINE, true);
    WControlEdit second(&rebar, "second", 0, 0, 80, 0, WControlEdit::STYLE_SINGLELINE, true);
    WControlToolbar tools(&rebar, "tools", WControlToolbar::STYLE_DEFAULT);
    rebar.setColor(0x000000, 0xEEEEEE);
    rebar.addControl(first, "Host", 0, 60);
    rebar.addControl(second, nullptr, 150, 60);
    rebar.addControl(tools, nullptr, 100, 50);
    EXPECT_EQ(rebar.getBandCount(), 3u);
    EXPECT_EQ(wplat::sendMessage(h, RB_GETBANDCOUNT, 0, 0), 3);
    // The toolbar's fixed 40 sets the bar's height.
    EXPECT_EQ(rebar.getWindowHeight(), 44u);
    EXPECT_EQ(tools.getWindowHeight(), 40u);
    RECT a = rectIn(first.getWindowHandle(), h);
    RECT b = rectIn(second.getWindowHandle(), h);
    EXPECT_GT(a.left, 0);
    EXPECT_GT(b.left, a.right);
    rebar.adjust(5);
    RECT placed = rectIn(h, parent);
    EXPECT_EQ(placed.top, 5);
    EXPECT_EQ(placed.left, 0);

    // Tab goes round inside the rebar; Return is left to others.
    wplat::setFocus(second.getWindowHandle());
    wplat::sendMessage(second.getWindowHandle(), WM_CHAR, VK_TAB, 0);
    EXPECT_EQ(wplat::getFocus(), tools.getWindowHandle());
    EXPECT_EQ(wplat::sendMessage(tools.getWindowHandle(), WM_CHAR, VK_TAB, 0), 1);
    EXPECT_EQ(wplat::getFocus(), first.getWindowHandle());
    MSG ret {first.getWindowHandle(), WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
    EXPECT_NE(wplat::sendMessage(first.getWindowHandle(), WM_GETDLGCODE, 0, (LPARAM)&ret), DLGC_WANTALLKEYS);
    EXPECT_EQ(wplat::getFocus(), first.getWindowHandle());

    // Commands of the band controls reach the rebar's parent.
    tools.addButton(300, 0, "Go");
    notes().clear();
    click(tools.getWindowHandle(), 3, 3);
    auto commands = notesOf(WM_COMMAND);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].id, 300u);
    EXPECT_EQ(commands[0].from, tools.getWindowHandle());

    rebar.destroy();
    EXPECT_FALSE(wplat::isWindow(h));
    EXPECT_EQ(rebar.getBandCount(), 0u);
}

TEST_F(BarsAndTabs, ToolbarButtonsAndLabels)
{
    WControlToolbar tools(owner.get(), "tools", WControlToolbar::STYLE_DEFAULT);
    HWND h = tools.getWindowHandle();
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_STYLE), (LONG_PTR)(0x50009946 | WS_TABSTOP));
    EXPECT_EQ(wplat::sendMessage(h, CCM_GETVERSION, 0, 0), 5);
    EXPECT_EQ(wplat::sendMessage(h, TB_GETEXTENDEDSTYLE, 0, 0), 0x18);
    // The height it reports is fixed, whatever the window's own.
    EXPECT_EQ(tools.getWindowHeight(), 0u);
    EXPECT_EQ(tools.getControlHeight(), 40u);
    tools.addButton(101, 0x10002, "Start");
    tools.addSeparator(6);
    tools.addButton(102, 3, "");
    EXPECT_EQ(wplat::sendMessage(h, TB_BUTTONCOUNT, 0, 0), 3);
    TBBUTTON b {};
    wplat::sendMessage(h, TB_GETBUTTON, 0, (LPARAM)&b);
    EXPECT_EQ(b.iBitmap, 2);
    EXPECT_EQ(b.idCommand, 101);
    EXPECT_EQ(b.fsState, TBSTATE_ENABLED);
    EXPECT_EQ(b.fsStyle, BTNS_AUTOSIZE | BTNS_SHOWTEXT);
    wplat::sendMessage(h, TB_GETBUTTON, 1, (LPARAM)&b);
    EXPECT_EQ(b.fsStyle, BTNS_SEP);
    EXPECT_EQ(b.iBitmap, 6);
    wplat::sendMessage(h, TB_GETBUTTON, 2, (LPARAM)&b);
    EXPECT_EQ(b.fsStyle, BTNS_AUTOSIZE);
    char label[32];
    EXPECT_EQ(wplat::sendMessage(h, TB_GETBUTTONTEXTA, 101, (LPARAM)label), 5);
    EXPECT_STREQ(label, "Start");
    EXPECT_EQ(wplat::sendMessage(h, TB_GETBUTTONTEXTA, 102, (LPARAM)label), 0);
    EXPECT_EQ(wplat::sendMessage(h, TB_GETBUTTONTEXTA, 999, (LPARAM)label), -1);
    HIMAGELIST images = wplat::imageListCreate(16, 16, ILC_COLOR32, 1, 1);
    tools.setImageList(images, nullptr);
    EXPECT_EQ((HIMAGELIST)wplat::sendMessage(h, TB_GETIMAGELIST, 0, 0), images);
    tools.destroy();
    wplat::imageListDestroy(images);
}

TEST_F(BarsAndTabs, StatusBarPartsTextsAndPlace)
{
    WControlStatusbar status(owner.get(), "status", WControlStatusbar::STYLE_PLAIN);
    HWND h = status.getWindowHandle();
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_STYLE), (LONG_PTR)(0x50000100 | WS_TABSTOP));
    unsigned long height = status.getWindowHeight();
    EXPECT_GT(height, 10u);
    status.adjust();
    RECT client;
    wplat::getClientRect(parent, client);
    RECT placed = rectIn(h, parent);
    EXPECT_EQ(placed.left, 0);
    EXPECT_EQ(placed.top, client.bottom - (int)height);
    EXPECT_EQ(placed.right, client.right);
    // It keeps its own height whatever it is given.
    EXPECT_EQ(placed.bottom, client.bottom);
    const unsigned long edges[3] = {100, 200, (unsigned long)-1};
    status.setParts(3, edges);
    int got[3] = {0, 0, 0};
    EXPECT_EQ(wplat::sendMessage(h, SB_GETPARTS, 3, (LPARAM)got), 3);
    EXPECT_EQ(got[0], 100);
    EXPECT_EQ(got[2], -1);
    status.setText("Running", 1);
    char text[32];
    LRESULT r = wplat::sendMessage(h, SB_GETTEXTA, 1, (LPARAM)text);
    EXPECT_EQ(LOWORD((uintptr_t)r), 7u);
    EXPECT_STREQ(text, "Running");
    status.setText("ignored", 5);
    EXPECT_EQ(wplat::sendMessage(h, SB_GETTEXTLENGTHA, 5, 0), 0);
}

TEST_F(BarsAndTabs, TrackbarRangePositionAndKeys)
{
    WControlTrackbar slider(owner.get(), "slider", "unused", 5, 5, 200, 30, WControlTrackbar::STYLE_TICKS);
    HWND h = slider.getWindowHandle();
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_STYLE), (LONG_PTR)(0x50000000 | 0x21 | WS_TABSTOP));
    slider.setRange(0, 50, 5);
    EXPECT_EQ(wplat::sendMessage(h, TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(wplat::sendMessage(h, TBM_GETRANGEMAX, 0, 0), 50);
    EXPECT_EQ(wplat::sendMessage(h, TBM_GETPAGESIZE, 0, 0), 5);
    EXPECT_EQ(wplat::sendMessage(h, TBM_GETTICFREQ, 0, 0), 5);
    slider.setPos(70);
    EXPECT_EQ(slider.getPos(), 50);
    slider.setPos(20);
    notes().clear();
    wplat::sendMessage(h, WM_KEYDOWN, VK_RIGHT, 0);
    wplat::sendMessage(h, WM_KEYDOWN, VK_NEXT, 0);
    EXPECT_EQ(slider.getPos(), 26);
    auto scrolls = notesOf(WM_HSCROLL);
    ASSERT_EQ(scrolls.size(), 4u);
    EXPECT_EQ(scrolls[0].code, TB_LINEDOWN);
    EXPECT_EQ(scrolls[1].code, TB_ENDTRACK);
    EXPECT_EQ(scrolls[2].code, TB_PAGEDOWN);
    EXPECT_EQ(scrolls[0].from, h);
    wplat::sendMessage(h, WM_KEYDOWN, VK_HOME, 0);
    EXPECT_EQ(slider.getPos(), 0);
    // Ranges below zero keep their sign.
    slider.setRange(-10, 10, 0);
    EXPECT_EQ(wplat::sendMessage(h, TBM_GETRANGEMIN, 0, 0), -10);
    slider.setPos(-20);
    EXPECT_EQ(slider.getPos(), -10);
    WControlTrackbar plain(owner.get(), "plain", "", 5, 40, 200, 30, WControlTrackbar::STYLE_PLAIN);
    EXPECT_EQ(wplat::getWindowLongPtr(plain.getWindowHandle(), GWL_STYLE), (LONG_PTR)(0x50000000 | WS_TABSTOP));
}

TEST_F(BarsAndTabs, ProgressBarSteps)
{
    WControlProgressBar bar(owner.get(), "progress", 5, 5, 200, 20, WControlProgressBar::STYLE_DEFAULT);
    HWND h = bar.getWindowHandle();
    ASSERT_NE(h, nullptr);
    bar.setRange(0, 100);
    bar.setStepSize(30);
    int seen[4];
    for (int& s : seen) {
        bar.nextStep();
        s = (int)wplat::sendMessage(h, PBM_GETPOS, 0, 0);
    }
    // Past the end it starts over.
    EXPECT_EQ(seen[0], 30);
    EXPECT_EQ(seen[2], 90);
    EXPECT_EQ(seen[3], 20);
    bar.setPos(150);
    EXPECT_EQ(wplat::sendMessage(h, PBM_GETPOS, 0, 0), 100);
    bar.setRange(10, 20);
    EXPECT_EQ(wplat::sendMessage(h, PBM_GETPOS, 0, 0), 20);
    EXPECT_EQ(wplat::sendMessage(h, PBM_GETRANGE, 1, 0), 10);
    // Both names of the class work.
    EXPECT_NE(
        wplat::createWindowEx(0, "msctls_progress32", "", WS_CHILD, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr),
        nullptr);
}

TEST_F(BarsAndTabs, EveryKindPaintsItself)
{
    WControlTab tab(owner.get(), "tabs", WControlTab::STYLE_TABS);
    tab.addPage(0, "General", nullptr);
    tab.addPage(1, "Log", nullptr);
    WControlRebar rebar(owner.get(), WControlRebar::STYLE_PLAIN);
    WControlToolbar tools(&rebar, "tools", WControlToolbar::STYLE_DEFAULT);
    tools.addButton(1, 0, "Start");
    tools.addSeparator(8);
    tools.addButton(2, 1, "");
    rebar.addControl(tools, "Tools", 200, 100);
    WControlStatusbar status(owner.get(), "status", WControlStatusbar::STYLE_PLAIN);
    status.setText("Ready", 0);
    WControlTrackbar slider(owner.get(), "slider", "", 5, 100, 200, 30, WControlTrackbar::STYLE_TICKS);
    slider.setRange(0, 20, 2);
    slider.setPos(7);
    WControlProgressBar bar(owner.get(), "progress", 5, 140, 200, 20, WControlProgressBar::STYLE_DEFAULT);
    bar.setPos(40);
    // Both bars take their width from the context.
    rebar.adjust(0);
    status.adjust();
    for (HWND h : {tab.getWindowHandle(), rebar.getWindowHandle(), tools.getWindowHandle(), status.getWindowHandle(),
             slider.getWindowHandle(), bar.getWindowHandle()}) {
        auto pixels = paintNow(h);
        ASSERT_FALSE(pixels.empty()) << wplat::getClassName(h);
        EXPECT_GE(colourCount(pixels), 2u) << wplat::getClassName(h);
    }
    auto pixelOf = [](HWND h, int x, int y) {
        const wplat::PixelImage* image = wplat::getBackingImage(h);
        return image != nullptr ? image->pixel(x, y) : 0xFFFFFFFFu;
    };
    uint32_t face = wplat::getSysColor(COLOR_BTNFACE);
    // The progress bar is filled to 40 %, green, inside its grey frame.
    EXPECT_EQ(pixelOf(bar.getWindowHandle(), 0, 10), 0xA0A0A0u);
    EXPECT_EQ(pixelOf(bar.getWindowHandle(), 40, 10), 0x06B025u);
    EXPECT_EQ(pixelOf(bar.getWindowHandle(), 79, 10), 0x06B025u);
    EXPECT_EQ(pixelOf(bar.getWindowHandle(), 81, 10), face);
    // The slider's thumb stands at 7 of 20 along its channel.
    int thumb = 7 * (200 - 10) / 20;
    EXPECT_EQ(pixelOf(slider.getWindowHandle(), thumb + 5, 15), 0x505050u);
    EXPECT_EQ(pixelOf(slider.getWindowHandle(), thumb - 20, 15), 0xA0A0A0u); // the channel
    EXPECT_EQ(pixelOf(slider.getWindowHandle(), thumb - 20, 3), face);
    // The rebar band starts with its gripper.
    EXPECT_EQ(pixelOf(rebar.getWindowHandle(), 4, 5), 0xA0A0A0u);
    EXPECT_EQ(pixelOf(rebar.getWindowHandle(), 1, 5), face);
}

} // namespace

namespace {

TEST_F(BarsAndTabs, RebarBandsShowTheirBackgroundPicture)
{
    HBITMAP tile = tileBitmap(0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00);
    WControlRebar rebar(owner.get(), WControlRebar::STYLE_PLAIN);
    rebar.setBackgroundImage(tile);
    WControlEdit field(&rebar, "field", 0, 0, 80, 0, WControlEdit::STYLE_SINGLELINE, true);
    rebar.addControl(field, nullptr, 200, 60);
    rebar.adjust(0);
    HWND h = rebar.getWindowHandle();
    auto pixels = paintNow(h);
    RECT client;
    wplat::getClientRect(h, client);
    ASSERT_EQ(pixels.size(), (size_t)(client.right * client.bottom));
    // Tiles line up with the top-level window's client area.
    RECT at = rectIn(h, parent);
    auto tileAt = [&](int x, int y) {
        static const uint32_t colours[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFF00}};
        return colours[(y + at.top) % 2][(x + at.left) % 2];
    };
    // Left of the gripper, top row, and the far right of the band.
    for (POINT p : {POINT {0, 0}, POINT {1, 1}, POINT {2, 0}, POINT {client.right - 3, client.bottom - 1}})
        EXPECT_EQ(pixels[(size_t)(p.y * client.right + p.x)], tileAt(p.x, p.y)) << p.x << "," << p.y;
    wplat::deleteObject(wplat::toObject(tile));
}

} // namespace
