// Window states and what the substrate reports on Qt's offscreen platform:
// minimise and maximise from outside, restore by showWindow, the cursor and
// frame messages, menu bars with their commands and check-mark pictures,
// window icons, calls from other threads, and sends to ended threads.

#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "MessagePump_p.h"
#include "Platform.h"
#include "ProgramIcon.h"

using namespace wplat;

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::thread::id thread;
};
std::vector<Seen> g_seen;
std::mutex g_seenLock;

LRESULT recordingProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_SIZE:
    case WM_SETCURSOR:
    case WM_NCPAINT:
    case WM_PAINT:
    case WM_COMMAND:
    case WM_MOUSEMOVE:
    case WM_ENABLE:
    case WM_SHOWWINDOW: {
        std::lock_guard<std::mutex> guard(g_seenLock);
        g_seen.push_back(Seen {m, wp, lp, std::this_thread::get_id()});
        break;
    }
    default:
        break;
    }
    return defWindowProc(w, m, wp, lp);
}

std::vector<Seen> seen(UINT message)
{
    std::lock_guard<std::mutex> guard(g_seenLock);
    std::vector<Seen> out;
    for (const Seen& s : g_seen) {
        if (s.message == message) out.push_back(s);
    }
    return out;
}

QWidget* widgetOf(HWND window)
{
    std::string title = getWindowText(window);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() == QString::fromStdString(title)) return w;
    }
    return nullptr;
}

class WindowState : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(startUi(), UiStart::NoDisplay);
        WindowClass cls;
        cls.name = "ZvStateTest";
        cls.proc = recordingProc;
        cls.style = CS_HREDRAW | CS_VREDRAW;
        registerClass(cls);
    }
    void SetUp() override
    {
        // A title of its own: widgets of earlier windows may linger until Qt deletes them.
        static int serial = 0;
        std::string title = "state window " + std::to_string(++serial);
        window = createWindowEx(0, "ZvStateTest", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 200, 120,
            nullptr, nullptr, nullptr, nullptr);
        drain();
        widget = widgetOf(window);
        ASSERT_NE(widget, nullptr);
        std::lock_guard<std::mutex> guard(g_seenLock);
        g_seen.clear();
    }
    void TearDown() override { destroyWindow(window); }

    HWND window = nullptr;
    QWidget* widget = nullptr;
};

TEST_F(WindowState, StatesChangedOutsideAreTrackedAndShowWindowRestores)
{
    struct Case {
        const char* what;
        Qt::WindowState state;
        bool iconic;
        bool zoomed;
        WPARAM sizeKind;
    } cases[] = {{"minimised", Qt::WindowMinimized, true, false, SIZE_MINIMIZED},
        {"maximised", Qt::WindowMaximized, false, true, SIZE_MAXIMIZED},
        {"restored", Qt::WindowNoState, false, false, SIZE_RESTORED}};
    for (const Case& c : cases) {
        {
            std::lock_guard<std::mutex> guard(g_seenLock);
            g_seen.clear();
        }
        // What the window manager does when the user presses a title-bar button.
        widget->setWindowState(c.state);
        QCoreApplication::processEvents();
        drain();
        EXPECT_EQ(isIconic(window), c.iconic) << c.what;
        EXPECT_EQ(isZoomed(window), c.zoomed) << c.what;
        auto sizes = seen(WM_SIZE);
        ASSERT_FALSE(sizes.empty()) << c.what;
        EXPECT_EQ(sizes.back().wParam, c.sizeKind) << c.what;
        EXPECT_EQ((getWindowLongPtr(window, GWL_STYLE) & WS_MINIMIZE) != 0, c.iconic) << c.what;
    }

    // Minimised by the user, brought back by the program.
    for (int command : {SW_SHOW, SW_RESTORE, SW_SHOWNORMAL}) {
        widget->setWindowState(Qt::WindowMinimized);
        QCoreApplication::processEvents();
        drain();
        ASSERT_TRUE(isIconic(window)) << command;
        showWindow(window, command);
        QCoreApplication::processEvents();
        drain();
        EXPECT_FALSE(isIconic(window)) << command;
        EXPECT_FALSE(widget->isMinimized()) << command;
        EXPECT_TRUE(widget->isVisible()) << command;
    }

    // A maximised window minimised by the user comes back maximised.
    widget->setWindowState(Qt::WindowMaximized);
    QCoreApplication::processEvents();
    widget->setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    drain();
    showWindow(window, SW_RESTORE);
    QCoreApplication::processEvents();
    drain();
    EXPECT_TRUE(isZoomed(window));
    EXPECT_FALSE(isIconic(window));
}

TEST_F(WindowState, ThePointerAsksForTheCursorFirst)
{
    HWND child = createWindowEx(
        0, "ZvStateTest", "", WS_CHILD | WS_VISIBLE, 10, 10, 50, 50, window, nullptr, nullptr, nullptr);
    drain();
    {
        std::lock_guard<std::mutex> guard(g_seenLock);
        g_seen.clear();
    }
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 6), widget->mapToGlobal(QPointF(5, 6)), Qt::NoButton, Qt::NoButton,
        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
    drain();
    std::lock_guard<std::mutex> guard(g_seenLock);
    ASSERT_GE(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].message, (UINT)WM_SETCURSOR);
    EXPECT_EQ((HWND)g_seen[0].wParam, window);
    EXPECT_EQ((unsigned)LOWORD((uintptr_t)g_seen[0].lParam), (unsigned)HTCLIENT);
    EXPECT_EQ((unsigned)HIWORD((uintptr_t)g_seen[0].lParam), (unsigned)WM_MOUSEMOVE);
    EXPECT_EQ(g_seen[1].message, (UINT)WM_MOUSEMOVE);
    destroyWindow(child);
}

TEST_F(WindowState, TheFrameIsPaintedBeforeTheClient)
{
    struct Case {
        const char* what;
        void (*change)(HWND);
    } cases[] = {
        {"shown",
            [](HWND w) {
                showWindow(w, SW_HIDE);
                showWindow(w, SW_SHOW);
            }},
        {"resized", [](HWND w) { setWindowPos(w, nullptr, 0, 0, 300, 150, SWP_NOMOVE | SWP_NOZORDER); }},
    };
    for (const Case& c : cases) {
        drain();
        {
            std::lock_guard<std::mutex> guard(g_seenLock);
            g_seen.clear();
        }
        c.change(window);
        drain();
        std::vector<UINT> order;
        {
            std::lock_guard<std::mutex> guard(g_seenLock);
            for (const Seen& s : g_seen) {
                if (s.message == WM_NCPAINT || s.message == WM_PAINT) order.push_back(s.message);
            }
        }
        EXPECT_EQ(order, (std::vector<UINT> {WM_PAINT, WM_NCPAINT})) << c.what;
        // A paint without a change to the frame leaves it alone.
        {
            std::lock_guard<std::mutex> guard(g_seenLock);
            g_seen.clear();
        }
        invalidateRect(window, nullptr, false);
        drain();
        EXPECT_TRUE(seen(WM_NCPAINT).empty()) << c.what;
    }
}

TEST_F(WindowState, MenuBarsShowTakeTheirHeightAndSendCommands)
{
    HMENU bar = createMenu();
    HMENU file = createPopupMenu();
    appendMenu(file, MF_STRING, 2001, "Open");
    appendMenu(file, MF_STRING | MF_CHECKED, 2002, "Checked");
    appendMenu(file, MF_STRING, 2003, "Unchecked");
    appendMenu(bar, MF_POPUP, (UINT_PTR)file, "File");
    appendMenu(bar, MF_STRING, 2010, "Help");
    // Pictures in place of the check mark: red when checked, blue when not.
    HBITMAP red = createBitmap(8, 8);
    getBitmapImage(red)->fill(0xFF0000);
    HBITMAP blue = createBitmap(8, 8);
    getBitmapImage(blue)->fill(0x0000FF);
    setMenuItemBitmaps(bar, 2002, MF_BYCOMMAND, blue, red);
    setMenuItemBitmaps(bar, 2003, MF_BYCOMMAND, blue, red);

    RECT before;
    getClientRect(window, before);
    ASSERT_TRUE(setMenu(window, bar));
    EXPECT_EQ(getMenu(window), bar);
    RECT after;
    getClientRect(window, after);
    auto* menuBar = widget->findChild<QMenuBar*>();
    ASSERT_NE(menuBar, nullptr);
    EXPECT_TRUE(menuBar->isVisible());
    int barHeight = menuBar->height();
    EXPECT_GT(barHeight, 0);
    EXPECT_EQ(after.bottom, before.bottom - barHeight);
    EXPECT_EQ(after.right, before.right);
    auto sizes = seen(WM_SIZE);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ((unsigned)HIWORD((uintptr_t)sizes.back().lParam), (unsigned)after.bottom);
    // The client area starts below the bar.
    POINT origin {0, 0};
    clientToScreen(window, origin);
    QPoint top = widget->mapToGlobal(QPoint(0, barHeight));
    EXPECT_EQ(origin.y, top.y());

    QList<QAction*> items = menuBar->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), QStringLiteral("File"));
    ASSERT_NE(items[0]->menu(), nullptr);
    QList<QAction*> fileItems = items[0]->menu()->actions();
    ASSERT_EQ(fileItems.size(), 3);
    auto iconColour = [](QAction* a) {
        QImage image = a->icon().pixmap(8, 8).toImage();
        return image.isNull() ? 0u : (unsigned)(image.pixel(4, 4) & 0xFFFFFF);
    };
    EXPECT_EQ(iconColour(fileItems[0]), 0u);
    EXPECT_EQ(iconColour(fileItems[1]), 0xFF0000u);
    EXPECT_EQ(iconColour(fileItems[2]), 0x0000FFu);

    fileItems[0]->trigger();
    items[1]->trigger();
    drain();
    auto commands = seen(WM_COMMAND);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(LOWORD(commands[0].wParam), 2001u);
    EXPECT_EQ(LOWORD(commands[1].wParam), 2010u);

    // Changed items show after drawMenuBar; removing the bar gives the height back.
    checkMenuItem(bar, 2003, MF_BYCOMMAND | MF_CHECKED);
    drawMenuBar(window);
    fileItems = menuBar->actions()[0]->menu()->actions();
    EXPECT_EQ(iconColour(fileItems[2]), 0xFF0000u);
    setMenu(window, nullptr);
    RECT back;
    getClientRect(window, back);
    EXPECT_EQ(back.bottom, before.bottom);
    EXPECT_EQ(widget->findChild<QMenuBar*>(), nullptr);
    destroyMenu(bar);
    deleteObject(toObject(red));
    deleteObject(toObject(blue));
}

TEST_F(WindowState, WindowIconsAreTheProgramsPictures)
{
    // A 2x2 PNG: red, green / blue, white.
    static const unsigned char png[] = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49,
        0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4,
        0x9a, 0x73, 0x00, 0x00, 0x00, 0x12, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0xc0, 0x00,
        0xc2, 0x0c, 0xff, 0x81, 0x00, 0x00, 0x1f, 0xee, 0x05, 0xfb, 0x0b, 0xd9, 0x68, 0x8b, 0x00, 0x00, 0x00, 0x00,
        0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    EXPECT_FALSE(registerProgramIcon(300, (const unsigned char*)"nonsense", 8));
    EXPECT_EQ(loadProgramIcon(300), nullptr);
    ASSERT_TRUE(registerProgramIcon(300, png, sizeof png));
    HICON icon = loadProgramIcon(300);
    ASSERT_NE(icon, nullptr);
    EXPECT_NE(loadProgramIcon(102), nullptr);

    EXPECT_EQ(sendMessage(window, WM_SETICON, ICON_BIG, (LPARAM)icon), 0);
    EXPECT_EQ((HICON)sendMessage(window, WM_GETICON, ICON_BIG, 0), icon);
    QImage shown = widget->windowIcon().pixmap(2, 2).toImage();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shown.pixel(1, 0) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(shown.pixel(0, 1) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(WindowState, CallsFromOtherThreadsRunOnTheOwnersThread)
{
    std::atomic<bool> done {false};
    std::thread worker([&] {
        setWindowPos(window, nullptr, 10, 10, 250, 140, SWP_NOZORDER);
        showWindow(window, SW_HIDE);
        showWindow(window, SW_SHOW);
        enableWindow(window, false);
        enableWindow(window, true);
        invalidateRect(window, nullptr, true);
        done = true;
    });
    MSG msg;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done.load() && std::chrono::steady_clock::now() < until) {
        if (peekMessage(msg, nullptr, Peek::Remove)) dispatchMessage(msg);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    drain();
    std::lock_guard<std::mutex> guard(g_seenLock);
    std::vector<UINT> kinds;
    for (const Seen& s : g_seen) {
        EXPECT_EQ(s.thread, std::this_thread::get_id()) << s.message;
        kinds.push_back(s.message);
    }
    for (UINT m : {WM_SIZE, WM_SHOWWINDOW, WM_ENABLE, WM_PAINT})
        EXPECT_NE(std::find(kinds.begin(), kinds.end(), m), kinds.end()) << m;
    RECT outer;
    getWindowRect(window, outer);
    EXPECT_EQ(outer.right - outer.left, 250);
    EXPECT_TRUE(widget->isVisible());
}

TEST(WindowThreads, SendsToAnEndedThreadReturnAndItsWindowsAreGone)
{
    WindowClass cls;
    cls.name = "ZvThreadTest";
    cls.proc = recordingProc;
    registerClass(cls);
    HWND made = nullptr;
    std::atomic<bool> created {false};
    std::atomic<bool> release {false};
    std::thread owner([&] {
        made = createWindowEx(
            0, "ZvThreadTest", "worker window", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
        created = true;
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Ends without a message loop and without destroying its window.
    });
    while (!created.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(isWindow(made));
    // A send that is waiting when the thread ends returns too.
    std::atomic<bool> answered {false};
    LRESULT result = -1;
    DWORD error = 0;
    std::thread sender([&] {
        result = sendMessage(made, WM_USER + 5, 0, 0);
        error = getLastError();
        answered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(answered.load());
    release = true;
    owner.join();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!answered.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(answered.load());
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(isWindow(made));
    setLastError(0);
    EXPECT_EQ(sendMessage(made, WM_USER + 5, 0, 0), 0);
    EXPECT_EQ(getLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

} // namespace

namespace {

TEST_F(WindowState, ANonSizableWindowKeepsItsSizeButTheProgramMayMaximiseIt)
{
    HWND fixed = createWindowEx(0, "ZvStateTest", "fixed window", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 20,
        20, 150, 90, nullptr, nullptr, nullptr, nullptr);
    drain();
    QWidget* w = widgetOf(fixed);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_EQ(w->maximumSize(), QSize(150, 90));
    // Not by the user: the size stays what the program set.
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowCloseButtonHint);
    setWindowPos(fixed, nullptr, 0, 0, 170, 100, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    RECT client;
    getClientRect(fixed, client);
    EXPECT_EQ(w->size(), QSize(client.right, client.bottom));
    QSize before = w->size();
    showWindow(fixed, SW_SHOWMAXIMIZED);
    QCoreApplication::processEvents();
    drain();
    EXPECT_TRUE(isZoomed(fixed));
    EXPECT_GT(w->width(), before.width());
    showWindow(fixed, SW_RESTORE);
    QCoreApplication::processEvents();
    drain();
    EXPECT_FALSE(isZoomed(fixed));
    EXPECT_EQ(w->size(), before);
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    destroyWindow(fixed);
}

} // namespace
