// Windows and their event handlers on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Platform.h"
#include "WException.h"
#include "WSystem.h"
#include "WWindow.h"

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

struct Recorder : WWindow::EventHandler {
    std::vector<std::string> calls;
    WWindow* owner = nullptr;
    HWND seenInCreate = nullptr;
    bool suppressPaint = false;
    bool throwOnTimer = false;
    bool destroyOnClose = false;
    void* first = nullptr;
    void* second = nullptr;
    std::thread::id userThread;

    void onWindowCreate() override
    {
        calls.push_back("create");
        if (owner != nullptr) seenInCreate = owner->getWindowHandle();
    }
    void onWindowMouseEnter() override { calls.push_back("enter"); }
    void onWindowMouseLeave() override { calls.push_back("leave"); }
    void onWindowMouseMove(int x, int y, void* extra) override
    {
        calls.push_back("move " + std::to_string(x) + "," + std::to_string(y) + (extra == nullptr ? "" : " extra"));
    }
    void onWindowMouseLeftDown(int x, int y, void*) override
    {
        calls.push_back("ldown " + std::to_string(x) + "," + std::to_string(y));
    }
    void onWindowKeyPressed(int key) override { calls.push_back("key " + std::to_string(key)); }
    void onWindowRestore() override { calls.push_back("restore"); }
    void onWindowRestore(HDC dc, const RECT&) override
    {
        calls.push_back("paint");
        wplat::fillSolid(dc, RECT {0, 0, 500, 500}, RGB(0, 128, 0));
    }
    void onWindowClose() override
    {
        calls.push_back("close");
        if (destroyOnClose && owner != nullptr) owner->destroy();
    }
    void onWindowDestroy() override { calls.push_back("destroy"); }
    void onWindowTimerTick() override
    {
        calls.push_back("tick");
        if (throwOnTimer) throw WSystemException("tick failed", -1);
    }
    void onWindowUserMessage(void* a, void* b) override
    {
        calls.push_back("user");
        first = a;
        second = b;
        userThread = std::this_thread::get_id();
    }
    void onWindowResize(unsigned long w, unsigned long h) override
    {
        calls.push_back("resize " + std::to_string(w) + "x" + std::to_string(h));
    }
    LRESULT onWindowMessage(HWND, unsigned int message, WPARAM, LPARAM) override
    {
        return suppressPaint && message == WM_PAINT ? 1 : 0;
    }
};

class Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() { WSystem::startup("ZvWindowTest", nullptr, nullptr, (char*)"", 1); }

    static void drain()
    {
        MSG msg;
        while (wplat::peekMessage(msg, nullptr, wplat::Peek::Remove)) {
            wplat::translateMessage(msg);
            wplat::dispatchMessage(msg);
        }
    }
};

TEST_F(Window, CreateAnnouncesTheHandlerBeforeReturningAndOnlyOnce)
{
    Recorder r;
    WWindow w;
    r.owner = &w;
    w.create(nullptr, "one", &r, WWindow::STYLE_OVERLAPPED, 10, 10, 300, 200);
    ASSERT_NE(w.getWindowHandle(), nullptr);
    ASSERT_FALSE(r.calls.empty());
    EXPECT_EQ(r.calls.back(), "create");
    HWND first = w.getWindowHandle();
    w.create(nullptr, "two", &r, WWindow::STYLE_OVERLAPPED, 10, 10, 300, 200);
    EXPECT_EQ(w.getWindowHandle(), first);
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), "create"), 1);
    EXPECT_EQ(wplat::getWindowLongPtr(first, GWL_STYLE) & WS_OVERLAPPEDWINDOW, (LONG_PTR)WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(wplat::getWindowLongPtr(first, GWL_EXSTYLE), (LONG_PTR)WS_EX_APPWINDOW);
    EXPECT_EQ(wplat::getClassName(first), "ZvWindowTest");
    w.destroy();
    EXPECT_EQ(r.calls.back(), "destroy");
    EXPECT_FALSE(wplat::isWindow(first));
    EXPECT_EQ(w.getWindowHandle(), nullptr);
}

TEST_F(Window, UnknownClassThrowsCannotCreateWindow)
{
    WWindow w;
    try {
        w.create(nullptr, "x", nullptr, WWindowStyle("NoSuchClass", 0, 0), 0, 0, 10, 10);
        FAIL();
    } catch (const WSystemException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot create window.");
        EXPECT_EQ(e.getId(), -4);
    }
    EXPECT_EQ(w.getWindowHandle(), nullptr);
}

TEST_F(Window, SizeMessagesGiveRestoreOnlyWhenRestored)
{
    Recorder r;
    WWindow w;
    w.create(nullptr, "size", &r, WWindow::STYLE_OVERLAPPED, 0, 0, 100, 50);
    r.calls.clear();
    wplat::sendMessage(w.getWindowHandle(), WM_SIZE, 0, MAKELPARAM(120, 60));
    wplat::sendMessage(w.getWindowHandle(), WM_SIZE, 2, MAKELPARAM(640, 480));
    EXPECT_EQ((std::vector<std::string> {"restore", "resize 120x60", "resize 640x480"}), r.calls);
    r.calls.clear();
    w.resizeWindow(200, 80, true);
    EXPECT_EQ(w.getWindowWidth(), 200u);
    EXPECT_EQ(w.getWindowHeight(), 80u);
    EXPECT_EQ((std::vector<std::string> {"restore", "resize 200x80"}), r.calls);
}

TEST_F(Window, PaintingReachesTheHandlerUnlessItsMessageHookAnswers)
{
    Recorder r;
    WWindow w;
    w.create(nullptr, "paint", &r, WWindow::STYLE_OVERLAPPED, 0, 0, 100, 50);
    w.showWindow();
    drain();
    EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), "paint"), r.calls.end());
    EXPECT_EQ(wplat::getBackingImage(w.getWindowHandle())->pixel(50, 25), 0x008000u);
    wplat::PixelImage shown;
    ASSERT_TRUE(wplat::grabWindow(w.getWindowHandle(), shown));
    EXPECT_EQ(shown.pixel(50, 25), 0x008000u);
    r.calls.clear();
    r.suppressPaint = true;
    w.invalidateWindow();
    drain();
    EXPECT_EQ(std::find(r.calls.begin(), r.calls.end(), "paint"), r.calls.end());
}

TEST_F(Window, CloseLeavesTheWindowToTheHandler)
{
    Recorder r;
    WWindow w;
    r.owner = &w;
    w.create(nullptr, "close", &r, WWindow::STYLE_OVERLAPPED, 0, 0, 100, 50);
    HWND h = w.getWindowHandle();
    EXPECT_EQ(wplat::sendMessage(h, WM_CLOSE, 0, 0), 1);
    EXPECT_TRUE(wplat::isWindow(h));
    r.destroyOnClose = true;
    wplat::sendMessage(h, WM_CLOSE, 0, 0);
    EXPECT_FALSE(wplat::isWindow(h));
    EXPECT_EQ(r.calls.back(), "destroy");
}

TEST_F(Window, ACopyNeverDestroysTheWindow)
{
    Recorder r;
    WWindow w;
    w.create(nullptr, "copy", &r, WWindow::STYLE_POPUP, 0, 0, 100, 50);
    {
        WWindow copy(w);
        EXPECT_EQ(copy.getWindowHandle(), w.getWindowHandle());
        WWindow assigned;
        assigned = w;
    }
    EXPECT_TRUE(wplat::isWindow(w.getWindowHandle()));
    EXPECT_EQ(wplat::getWindowLongPtr(w.getWindowHandle(), GWL_EXSTYLE), (LONG_PTR)WS_EX_CONTROLPARENT);
}

TEST_F(Window, MouseEnterMoveAndLeaveWithNegativeCoordinates)
{
    Recorder parentHandler, childHandler;
    WWindow parent, child;
    parent.create(nullptr, "parent", &parentHandler, WWindow::STYLE_OVERLAPPED, 0, 0, 300, 200);
    child.create(&parent, "child", &childHandler, WWindow::STYLE_CHILD, 10, 10, 100, 100);
    childHandler.calls.clear();
    parentHandler.calls.clear();
    HWND h = child.getWindowHandle();
    wplat::sendMessage(h, WM_MOUSEMOVE, 0, MAKELPARAM(-5, -7));
    wplat::sendMessage(h, WM_MOUSEMOVE, 0, MAKELPARAM(20, 30));
    wplat::sendMessage(h, WM_LBUTTONDOWN, 0, MAKELPARAM(-1, 2));
    wplat::sendMessage(h, WM_MOUSELEAVE, 0, 0);
    wplat::sendMessage(h, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(
        (std::vector<std::string> {"enter", "move -5,-7", "move 20,30", "ldown -1,2", "leave"}), childHandler.calls);
    // The parent hears of the pointer in screen coordinates.
    ASSERT_EQ(parentHandler.calls.size(), 2u);
    EXPECT_EQ(parentHandler.calls[0], "enter");
    EXPECT_EQ(parentHandler.calls[1].rfind("move ", 0), 0u);
}

TEST_F(Window, UserMessagesFromOtherThreadsKeepTheirPointers)
{
    Recorder r;
    WWindow w;
    w.create(nullptr, "user", &r, WWindow::STYLE_OVERLAPPED, 0, 0, 100, 50);
    void* a = (void*)(uintptr_t)0x7FFFDEADBEEF1234ull;
    void* b = (void*)(uintptr_t)0x00007F0012345678ull;
    std::thread worker([&] { w.createUserMessage(a, b); });
    worker.join();
    drain();
    EXPECT_EQ(r.first, a);
    EXPECT_EQ(r.second, b);
    EXPECT_EQ(r.userThread, std::this_thread::get_id());
}

TEST_F(Window, TimerTicksAndHandlerExceptionsAreDropped)
{
    Recorder r;
    WWindow w;
    r.throwOnTimer = true;
    w.create(nullptr, "timer", &r, WWindow::STYLE_OVERLAPPED, 0, 0, 100, 50);
    w.setTimer(5);
    int ticks = 0;
    MSG msg;
    while (ticks < 2 && wplat::getMessage(msg, nullptr)) {
        if (msg.message == WM_TIMER) ticks++;
        wplat::dispatchMessage(msg);
    }
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), "tick"), 2);
}

TEST_F(Window, MessageLoopEndsWithExitFromAnotherThread)
{
    std::thread worker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        WSystem::exit(7);
    });
    EXPECT_EQ(WSystem::messageLoop(nullptr, 0), 7);
    worker.join();
}

TEST_F(Window, KeysAndFocusReachTheHandler)
{
    Recorder r;
    WWindow w;
    w.create(nullptr, "keys", &r, WWindow::STYLE_OVERLAPPED, 0, 0, 100, 50);
    w.showWindow();
    w.setFocusWindow(false, false);
    EXPECT_EQ(wplat::getFocus(), w.getWindowHandle());
    wplat::postMessage(w.getWindowHandle(), WM_KEYDOWN, VK_RETURN, 1);
    drain();
    EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), "key 13"), r.calls.end());
    w.enableWindow(false);
    EXPECT_FALSE(w.isWindowEnabled());
    EXPECT_EQ(wplat::getFocus(), nullptr);
    w.hideWindow();
    EXPECT_FALSE(wplat::isWindowVisible(w.getWindowHandle()));
}

} // namespace

namespace {

struct FramePainter : WWindow::EventHandler {
    std::vector<std::string> calls;
    void onWindowRestoreNoClient(HDC dc) override
    {
        calls.push_back(dc != nullptr ? "frame" : "frame without context");
    }
    void onWindowRestore(HDC, const RECT&) override { calls.push_back("paint"); }
};

TEST_F(Window, TheFrameIsRestoredWhenShownAndResized)
{
    FramePainter handler;
    WWindow w;
    w.create(nullptr, "frame", &handler, WWindow::STYLE_OVERLAPPED, 0, 0, 120, 80);
    w.showWindow();
    drain();
    EXPECT_EQ(handler.calls, (std::vector<std::string> {"frame", "paint"}));
    handler.calls.clear();
    w.invalidateWindow();
    drain();
    EXPECT_EQ(handler.calls, (std::vector<std::string> {"paint"}));
    handler.calls.clear();
    w.resizeWindow(150, 90, true);
    drain();
    EXPECT_EQ(handler.calls, (std::vector<std::string> {"frame", "paint"}));
}

} // namespace
