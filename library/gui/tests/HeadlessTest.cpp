// Start-up without a display, as the console program runs: the library's
// hooks are installed, yet nothing may start the user interface or abort.

#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform.h"
#include "WException.h"
#include "WFont.h"
#include "WSystem.h"

namespace {

const int g_noDisplay = (unsetenv("QT_QPA_PLATFORM"), unsetenv("DISPLAY"), unsetenv("WAYLAND_DISPLAY"), 0);

TEST(Headless, StartUpGivesTheDefaultFontAndAnEmptyDisplayTable)
{
    WSystem::startup("ZvHeadless");
    ASSERT_TRUE(g_systemInfo.hasDefaultFont());
    const WFont& font = g_systemInfo.getDefaultFont();
    EXPECT_STREQ(font.getName().getBuf(), "MS Sans Serif");
    EXPECT_EQ(font.getTrueHeight(), 11u);
    EXPECT_EQ(g_systemInfo.getDisplayDevices().size(), 0u);
    EXPECT_STREQ(g_systemInfo.getPrimaryDisplayDevice(), "display");
    EXPECT_FALSE(wplat::isUiStarted());
    // Measuring without the user interface uses the dialog font's own metrics.
    SIZE units = wplat::getDialogBaseUnits();
    EXPECT_EQ(units.cx, 6);
    EXPECT_EQ(units.cy, 13);
}

TEST(Headless, MessagesGoToStandardError)
{
    testing::internal::CaptureStderr();
    WSystem::showMessage(nullptr, "text", "caption", false);
    EXPECT_FALSE(WSystem::showQuestion(nullptr, "sure?", "ask"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "caption: text\nask: sure?\n");
    EXPECT_EQ(wplat::messageBox(nullptr, "x", "y", MB_OK), 0);
}

TEST(Headless, TheWindowedStartUpFailsCleanly)
{
    try {
        WSystem::startup("ZvHeadless", nullptr, nullptr, (char*)"", 1);
        FAIL();
    } catch (const WSystemException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot create window class.");
    }
    EXPECT_FALSE(wplat::isUiStarted());
    // Printing numbers keeps the point.
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%.6f", 1.5);
    EXPECT_STREQ(buffer, "1.500000");
}

TEST(Headless, WindowsWorkWithoutViews)
{
    static int paints = 0;
    wplat::WindowClass cls;
    cls.name = "Plain";
    cls.proc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_PAINT) paints++;
        return wplat::defWindowProc(w, m, wp, lp);
    };
    ASSERT_TRUE(wplat::registerClass(cls));
    HWND w = wplat::createWindowEx(
        0, "Plain", "t", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    wplat::PixelImage shown;
    EXPECT_FALSE(wplat::grabWindow(w, shown));
    wplat::postMessage(w, WM_APP, 1, 2);
    MSG msg;
    ASSERT_TRUE(wplat::getMessage(msg, nullptr));
    EXPECT_EQ(msg.message, (UINT)WM_APP);
    ASSERT_TRUE(wplat::getMessage(msg, nullptr));
    EXPECT_EQ(msg.message, (UINT)WM_PAINT);
    wplat::dispatchMessage(msg);
    EXPECT_EQ(paints, 1);
    wplat::postQuitMessage(3);
    EXPECT_FALSE(wplat::getMessage(msg, nullptr));
    EXPECT_EQ(msg.wParam, 3u);
    wplat::destroyWindow(w);
}

} // namespace
