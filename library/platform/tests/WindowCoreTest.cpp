// The window layer on Qt's offscreen platform: creation and destruction
// order, stale handles, subclassing, queues across threads, timers,
// painting into the backing image, focus and tab order, base units.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Platform.h"

using namespace wplat;

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

std::vector<std::string> g_log;
std::map<HWND, std::string> g_tags;
std::thread::id g_procThread;

std::string name(UINT m)
{
    switch (m) {
    case WM_NCCREATE:
        return "nccreate";
    case WM_CREATE:
        return "create";
    case WM_SIZE:
        return "size";
    case WM_MOVE:
        return "move";
    case WM_DESTROY:
        return "destroy";
    case WM_NCDESTROY:
        return "ncdestroy";
    case WM_SETFOCUS:
        return "setfocus";
    case WM_KILLFOCUS:
        return "killfocus";
    default:
        return std::to_string(m);
    }
}

LRESULT loggingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_procThread = std::this_thread::get_id();
    if (message == WM_NCCREATE) g_tags[window] = ((const CREATESTRUCT*)lParam)->lpszName;
    std::string tag = g_tags[window];
    if (message != WM_GETTEXT && message != WM_GETTEXTLENGTH && message != WM_SETTEXT && message != WM_SHOWWINDOW
        && message != WM_ERASEBKGND && message != WM_PAINT && message != WM_ENABLE)
        g_log.push_back(tag + ":" + name(message));
    if (message == WM_USER + 1) return (LRESULT)(wParam * 2);
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = beginPaint(window, ps);
        RECT all {0, 0, 1000, 1000};
        fillSolid(dc, all, RGB(255, 0, 0));
        endPaint(window, ps);
        return 0;
    }
    return defWindowProc(window, message, wParam, lParam);
}

class WindowCore : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(startUi(), UiStart::NoDisplay);
        WindowClass cls;
        cls.name = "TestClass";
        cls.proc = loggingProc;
        cls.style = CS_HREDRAW | CS_VREDRAW;
        registerClass(cls);
    }
    void SetUp() override { g_log.clear(); }

    HWND make(const char* tag, HWND parent = nullptr, DWORD style = WS_OVERLAPPEDWINDOW, int id = 0)
    {
        return createWindowEx(
            0, "TestClass", tag, style, 10, 20, 200, 100, parent, (HMENU)(intptr_t)id, nullptr, nullptr);
    }

    // Runs the loop until nothing is left to do.
    static void drain()
    {
        MSG msg;
        while (peekMessage(msg, nullptr, Peek::Remove)) {
            if (msg.message == WM_QUIT) break;
            translateMessage(msg);
            dispatchMessage(msg);
        }
    }
};

TEST_F(WindowCore, CreationAndDestructionFollowThePlatformOrder)
{
    HWND top = make("top");
    ASSERT_NE(top, nullptr);
    HWND child = make("child", top, WS_CHILD | WS_VISIBLE, 7);
    EXPECT_EQ((std::vector<std::string> {"top:nccreate", "top:create", "top:size", "top:move", "child:nccreate",
                  "child:create", "child:size", "child:move"}),
        g_log);
    EXPECT_EQ(getDlgItem(top, 7), child);
    EXPECT_EQ(getDlgCtrlID(child), 7);
    EXPECT_EQ(getParent(child), top);
    g_log.clear();
    EXPECT_TRUE(destroyWindow(top));
    EXPECT_EQ((std::vector<std::string> {"top:destroy", "child:destroy", "child:ncdestroy", "top:ncdestroy"}), g_log);
    // Stale handles are no-ops, and a new window never gets an old handle.
    EXPECT_FALSE(isWindow(top));
    EXPECT_FALSE(isWindow(child));
    EXPECT_FALSE(destroyWindow(top));
    EXPECT_EQ(sendMessage(child, WM_USER + 1, 4, 0), 0);
    EXPECT_FALSE(postMessage(child, WM_USER, 0, 0));
    HWND again = make("again");
    EXPECT_NE(again, top);
    EXPECT_NE(again, child);
    destroyWindow(again);
}

TEST_F(WindowCore, CreateAnsweringMinusOneDestroysTheWindow)
{
    static HWND seen = nullptr;
    WindowClass cls;
    cls.name = "Refusing";
    cls.proc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        seen = w;
        return m == WM_CREATE ? -1 : defWindowProc(w, m, wp, lp);
    };
    registerClass(cls);
    EXPECT_EQ(createWindowEx(0, "Refusing", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_FALSE(isWindow(seen));
    EXPECT_EQ(createWindowEx(0, "NoSuchClass", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(WindowCore, SubclassingChainsToThePreviousProcedure)
{
    static WNDPROC previous = nullptr;
    static int seen = 0;
    HWND w = make("sub");
    previous = (WNDPROC)setWindowLongPtr(
        w, GWLP_WNDPROC, (LONG_PTR)(WNDPROC)[](HWND h, UINT m, WPARAM wp, LPARAM lp)->LRESULT {
            if (m == WM_USER + 1) seen++;
            return callWindowProc(previous, h, m, wp, lp);
        });
    EXPECT_EQ(previous, (WNDPROC)loggingProc);
    EXPECT_EQ(sendMessage(w, WM_USER + 1, 21, 0), 42);
    EXPECT_EQ(seen, 1);
    setWindowLongPtr(w, GWLP_USERDATA, (LONG_PTR)0x1234567890LL);
    EXPECT_EQ(getWindowLongPtr(w, GWLP_USERDATA), (LONG_PTR)0x1234567890LL);
    destroyWindow(w);
}

TEST_F(WindowCore, PostsFromOtherThreadsArriveInOrderWithPointersIntact)
{
    HWND w = make("posted");
    const int perThread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; t++) {
        workers.emplace_back([w, t] {
            for (int i = 0; i < perThread; i++)
                postMessage(w, WM_APP, (WPARAM)t, (LPARAM)(((intptr_t)0x7FFF12345678 << 8) + i));
        });
    }
    std::vector<int> next(4, 0);
    int received = 0;
    MSG msg;
    while (received < 4 * perThread && getMessage(msg, nullptr)) {
        if (msg.message != WM_APP) {
            dispatchMessage(msg);
            continue;
        }
        int t = (int)msg.wParam;
        EXPECT_EQ(msg.lParam, ((intptr_t)0x7FFF12345678 << 8) + next[t]);
        next[t]++;
        received++;
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(received, 4 * perThread);
    destroyWindow(w);
}

TEST_F(WindowCore, SendsFromOtherThreadsRunOnTheOwnerBeforePostedMessages)
{
    HWND w = make("sent");
    postMessage(w, WM_USER + 2, 0, 0);
    std::atomic<LRESULT> answer {0};
    std::thread worker([&] { answer = sendMessage(w, WM_USER + 1, 50, 0); });
    g_log.clear();
    // Let the send queue up behind the post.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    MSG msg;
    ASSERT_TRUE(getMessage(msg, nullptr));
    dispatchMessage(msg);
    worker.join();
    EXPECT_EQ(answer.load(), 100);
    EXPECT_EQ(g_procThread, std::this_thread::get_id());
    ASSERT_EQ(g_log.size(), 2u);
    EXPECT_EQ(g_log[0], "sent:" + std::to_string(WM_USER + 1));
    EXPECT_EQ(g_log[1], "sent:" + std::to_string(WM_USER + 2));
    destroyWindow(w);
}

TEST_F(WindowCore, TimersTickUntilKilled)
{
    HWND w = make("timer");
    setTimer(w, 5, 10);
    int ticks = 0;
    auto start = std::chrono::steady_clock::now();
    MSG msg;
    while (ticks < 3 && getMessage(msg, nullptr)) {
        if (msg.message == WM_TIMER && msg.hwnd == w) {
            EXPECT_EQ(msg.wParam, 5u);
            ticks++;
        } else {
            dispatchMessage(msg);
        }
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
    EXPECT_TRUE(killTimer(w, 5));
    EXPECT_FALSE(killTimer(w, 5));
    postMessage(w, WM_APP, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(getMessage(msg, nullptr));
    EXPECT_EQ(msg.message, (UINT)WM_APP);
    destroyWindow(w);
}

TEST_F(WindowCore, PaintingFillsOnlyTheInvalidRectangles)
{
    HWND w = make("paint", nullptr, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    drain();
    // Start from blue everywhere, drawn outside painting.
    HDC dc = getDC(w);
    fillSolid(dc, RECT {0, 0, 200, 100}, RGB(0, 0, 255));
    releaseDC(w, dc);
    RECT a {10, 10, 30, 30};
    RECT b {150, 50, 160, 60};
    invalidateRect(w, &a, false);
    invalidateRect(w, &b, false);
    drain();
    const PixelImage* image = getBackingImage(w);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixel(15, 15), 0xFF0000u);
    EXPECT_EQ(image->pixel(155, 55), 0xFF0000u);
    EXPECT_EQ(image->pixel(100, 40), 0x0000FFu);
    EXPECT_EQ(image->pixel(35, 35), 0x0000FFu);
    // The widget shows the same pixels.
    PixelImage shown;
    ASSERT_TRUE(grabWindow(w, shown));
    EXPECT_EQ(shown.pixel(15, 15), 0xFF0000u);
    EXPECT_EQ(shown.pixel(100, 40), 0x0000FFu);
    RECT update;
    EXPECT_FALSE(getUpdateRect(w, update));
    destroyWindow(w);
}

TEST_F(WindowCore, FocusMovesWithKillThenSetAndTabOrderSkipsDisabledItems)
{
    HWND dialog = make("dlg");
    HWND one = make("one", dialog, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 1);
    HWND label = make("label", dialog, WS_CHILD | WS_VISIBLE, 2);
    HWND two = make("two", dialog, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 3);
    HWND three = make("three", dialog, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 4);
    showWindow(dialog, SW_SHOW);
    enableWindow(two, false);
    EXPECT_EQ(getNextDlgTabItem(dialog, one, false), three);
    EXPECT_EQ(getNextDlgTabItem(dialog, three, false), one);
    EXPECT_EQ(getNextDlgTabItem(dialog, one, true), three);
    EXPECT_EQ(getNextDlgTabItem(dialog, label, false), three);
    enableWindow(two, true);
    EXPECT_EQ(getNextDlgTabItem(dialog, one, false), two);
    g_log.clear();
    setFocus(one);
    setFocus(two);
    EXPECT_EQ(getFocus(), two);
    EXPECT_EQ((std::vector<std::string> {"one:setfocus", "one:killfocus", "two:setfocus"}), g_log);
    // A disabled window cannot take the focus; destroying the focus clears it.
    enableWindow(three, false);
    EXPECT_EQ(setFocus(three), nullptr);
    EXPECT_EQ(getFocus(), two);
    destroyWindow(dialog);
    EXPECT_EQ(getFocus(), nullptr);
}

TEST_F(WindowCore, DialogBaseUnitsComeFromTheDialogFont)
{
    SIZE units = getDialogBaseUnits();
    EXPECT_EQ(units.cx, 6);
    EXPECT_EQ(units.cy, 13);
    EXPECT_EQ(mapFaceName("MS Shell Dlg"), "Liberation Sans");
    EXPECT_EQ(mapFaceName("ms sans serif"), "Liberation Sans");
    EXPECT_EQ(mapFaceName("Courier New"), "Liberation Mono");
    EXPECT_EQ(screenDpi(), 96);
    LOGFONT f {};
    f.lfHeight = -11;
    strcpy(f.lfFaceName, "MS Sans Serif");
    HFONT font = createFontIndirect(f);
    HWND w = make("text", nullptr, WS_OVERLAPPEDWINDOW);
    HDC dc = getDC(w);
    selectObject(dc, toObject(font));
    TEXTMETRIC tm;
    ASSERT_TRUE(getTextMetrics(dc, tm));
    EXPECT_EQ(tm.tmHeight, 13);
    SIZE extent;
    getTextExtentPoint(dc, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1, extent);
    EXPECT_EQ(extent.cx, 333);
    // Text lands in the image.
    fillSolid(dc, RECT {0, 0, 200, 100}, RGB(255, 255, 255));
    setBkMode(dc, TRANSPARENT);
    textOut(dc, 2, 2, "WWW", -1);
    const PixelImage* image = getBackingImage(w);
    int dark = 0;
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 40; x++)
            dark += image->pixel(x, y) != 0xFFFFFFu ? 1 : 0;
    EXPECT_GT(dark, 20);
    releaseDC(w, dc);
    deleteObject(toObject(font));
    destroyWindow(w);
}

} // namespace

namespace {

std::atomic<int> g_workerPaints {0};
std::thread::id g_destroyedOn;

LRESULT workerProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_PAINT) g_workerPaints++;
    if (m == WM_DESTROY) g_destroyedOn = std::this_thread::get_id();
    return defWindowProc(w, m, wp, lp);
}

TEST(WindowThreads, WorkRunsOnTheOwnersThreadUntilItEnds)
{
    WindowClass cls;
    cls.name = "ZvWorkerWindow";
    cls.proc = workerProc;
    registerClass(cls);
    std::atomic<HWND> made {nullptr};
    std::atomic<bool> stop {false};
    std::thread::id workerId;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        made = createWindowEx(
            0, "ZvWorkerWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 40, 40, nullptr, nullptr, nullptr, nullptr);
        MSG msg;
        while (!stop.load()) {
            while (peekMessage(msg, nullptr, Peek::Remove))
                dispatchMessage(msg);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    while (made.load() == nullptr)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    HWND w = made.load();
    struct Probe {
        std::thread::id ranOn;
    } probe;
    ASSERT_TRUE(runOnWindowThread(
        w, [](void* p) { static_cast<Probe*>(p)->ranOn = std::this_thread::get_id(); }, &probe));
    EXPECT_EQ(probe.ranOn, workerId);
    // Invalidating from here does not wait; the owner paints.
    g_workerPaints = 0;
    EXPECT_TRUE(invalidateRect(w, nullptr, true));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (g_workerPaints.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GT(g_workerPaints.load(), 0);
    // Moves made here happen there, with their WM_SIZE.
    EXPECT_TRUE(setWindowPos(w, nullptr, 5, 5, 60, 50, SWP_NOZORDER));
    RECT r;
    getClientRect(w, r);
    EXPECT_EQ(r.right, 60);
    // A second window of the worker, destroyed from here: its WM_DESTROY runs there.
    std::atomic<HWND> second {nullptr};
    struct Made {
        std::atomic<HWND>* into;
    } made2 {&second};
    ASSERT_TRUE(runOnWindowThread(
        w,
        [](void* p) {
            static_cast<Made*>(p)->into->store(createWindowEx(
                0, "ZvWorkerWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
        },
        &made2));
    ASSERT_NE(second.load(), nullptr);
    EXPECT_TRUE(destroyWindow(second.load()));
    EXPECT_FALSE(isWindow(second.load()));
    EXPECT_EQ(g_destroyedOn, workerId);
    stop = true;
    worker.join();
    // The thread is gone and its window with it.
    EXPECT_FALSE(isWindow(w));
    probe.ranOn = std::thread::id();
    EXPECT_FALSE(runOnWindowThread(
        w, [](void* p) { static_cast<Probe*>(p)->ranOn = std::this_thread::get_id(); }, &probe));
    EXPECT_EQ(probe.ranOn, std::thread::id());
}

} // namespace
