// Windows on a real X server with a window manager: the frame in window
// rectangles and positions, minimise and maximise done through the manager,
// restoring by showWindow, the frame boxes a style allows, and our icon on
// the X window. Skipped where Xvfb or openbox are missing.

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Platform.h"
#include "ProgramIcon.h"
#include "TrayIcon.h"
#include "XServerFixture_p.h"

#include <X11/Xutil.h>

using namespace wplat;

namespace {

auto* const g_server = ::testing::AddGlobalTestEnvironment(new xtest::XServer);

std::vector<WPARAM> g_sizes;

LRESULT proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_SIZE) g_sizes.push_back(wp);
    return defWindowProc(w, m, wp, lp);
}

// Runs our loop and Qt's until `done` holds or `span` passes (the window
// manager may be slow on a busy machine).
template <typename F>
bool pumpUntil(F done, std::chrono::milliseconds span = std::chrono::seconds(10))
{
    auto until = std::chrono::steady_clock::now() + span;
    MSG msg;
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents();
        while (peekMessage(msg, nullptr, Peek::Remove)) {
            translateMessage(msg);
            dispatchMessage(msg);
        }
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void pumpFor(std::chrono::milliseconds span)
{
    auto until = std::chrono::steady_clock::now() + span;
    pumpUntil([&] { return std::chrono::steady_clock::now() >= until; });
}

QWidget* widgetOf(HWND window)
{
    std::string title = getWindowText(window);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == QString::fromStdString(title)) return w;
    }
    return nullptr;
}

class XWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!xtest::XServer::ready()) return;
        ASSERT_EQ(startUi(), UiStart::Started);
        WindowClass cls;
        cls.name = "ZvXWindow";
        cls.proc = proc;
        cls.style = CS_HREDRAW | CS_VREDRAW;
        registerClass(cls);
        x = XOpenDisplay(nullptr);
    }
    void SetUp() override
    {
        if (!xtest::XServer::ready()) GTEST_SKIP() << "no Xvfb with openbox here";
        g_sizes.clear();
    }

    HWND open(DWORD style, const char* title)
    {
        HWND w = createWindowEx(0, "ZvXWindow", title, style, 100, 80, 300, 200, nullptr, nullptr, nullptr, nullptr);
        showWindow(w, SW_SHOW);
        // Framed once the manager has put its decoration round it.
        pumpUntil([&] {
            RECT outer, inner;
            getWindowRect(w, outer);
            getClientRect(w, inner);
            return outer.right - outer.left > inner.right;
        });
        return w;
    }

    Window xWindow(HWND w)
    {
        QWidget* widget = widgetOf(w);
        return widget != nullptr ? (Window)widget->winId() : 0;
    }

    std::vector<unsigned long> property(Window window, const char* name)
    {
        std::vector<unsigned long> out;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(x, window, XInternAtom(x, name, False), 0, 1 << 20, False, AnyPropertyType, &type,
                &format, &count, &after, &data)
                == Success
            && data != nullptr) {
            if (format == 32) out.assign((unsigned long*)data, (unsigned long*)data + count);
            XFree(data);
        }
        return out;
    }

    std::vector<std::string> allowedActions(HWND w)
    {
        std::vector<std::string> names;
        for (unsigned long atom : property(xWindow(w), "_NET_WM_ALLOWED_ACTIONS")) {
            char* name = XGetAtomName(x, (Atom)atom);
            if (name != nullptr) {
                names.push_back(name);
                XFree(name);
            }
        }
        return names;
    }

    // Sends the window manager what a title-bar button makes it do.
    void askManager(Window window, const char* message, long a, long b, long c)
    {
        XEvent e {};
        e.xclient.type = ClientMessage;
        e.xclient.window = window;
        e.xclient.message_type = XInternAtom(x, message, False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = a;
        e.xclient.data.l[1] = b;
        e.xclient.data.l[2] = c;
        e.xclient.data.l[3] = 1;
        XSendEvent(x, DefaultRootWindow(x), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
        XFlush(x);
    }

    static Display* x;
};

Display* XWindow::x = nullptr;

bool has(const std::vector<std::string>& list, const char* item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST_F(XWindow, WindowRectanglesAndPositionsTakeInTheFrame)
{
    HWND w = open(WS_OVERLAPPEDWINDOW, "framed");
    RECT outer, inner;
    getWindowRect(w, outer);
    getClientRect(w, inner);
    ASSERT_GT(outer.right - outer.left, inner.right);
    ASSERT_GT(outer.bottom - outer.top, inner.bottom);
    POINT origin {0, 0};
    clientToScreen(w, origin);
    EXPECT_LT(outer.top, origin.y);
    // The position given is the frame's; the size given is the whole window's.
    setWindowPos(w, nullptr, 150, 120, 320, 240, SWP_NOZORDER);
    EXPECT_TRUE(pumpUntil([&] {
        getWindowRect(w, outer);
        return outer.left == 150 && outer.top == 120;
    })) << outer.left
        << "," << outer.top;
    EXPECT_EQ(outer.right - outer.left, 320);
    EXPECT_EQ(outer.bottom - outer.top, 240);
    destroyWindow(w);
}

TEST_F(XWindow, MinimiseAndMaximiseThroughTheManagerAreFollowed)
{
    HWND w = open(WS_OVERLAPPEDWINDOW, "states");
    Window xw = xWindow(w);
    ASSERT_NE(xw, 0u);
    // The manager may put up the frame before it takes the window on; an
    // iconify request sent before that is ignored. WM_STATE Normal is the
    // manager's own word that the window is now its own.
    ASSERT_TRUE(pumpUntil([&] {
        std::vector<unsigned long> state = property(xw, "WM_STATE");
        return !state.empty() && state[0] == NormalState;
    }));
    // Qt activates a newly shown window once it sees it mapped, which may
    // reach the manager just after our request and undo it; a user would
    // click again, and so do we.
    bool iconic = false;
    for (int attempt = 0; attempt < 10 && !iconic; ++attempt) {
        XIconifyWindow(x, xw, DefaultScreen(x));
        XFlush(x);
        iconic = pumpUntil([&] { return isIconic(w); }, std::chrono::seconds(1));
    }
    ASSERT_TRUE(iconic);
    ASSERT_FALSE(g_sizes.empty());
    EXPECT_EQ(g_sizes.back(), SIZE_MINIMIZED);

    // The program brings it back, as a tray click does.
    showWindow(w, SW_SHOW);
    EXPECT_TRUE(pumpUntil([&] {
        XWindowAttributes a;
        return !isIconic(w) && XGetWindowAttributes(x, xw, &a) != 0 && a.map_state == IsViewable;
    }));

    Atom vertical = XInternAtom(x, "_NET_WM_STATE_MAXIMIZED_VERT", False);
    Atom horizontal = XInternAtom(x, "_NET_WM_STATE_MAXIMIZED_HORZ", False);
    askManager(xw, "_NET_WM_STATE", 1 /* add */, (long)vertical, (long)horizontal);
    ASSERT_TRUE(pumpUntil([&] { return isZoomed(w); }));
    EXPECT_EQ(g_sizes.back(), SIZE_MAXIMIZED);
    showWindow(w, SW_RESTORE);
    EXPECT_TRUE(pumpUntil([&] { return !isZoomed(w); }));
    destroyWindow(w);
}

TEST_F(XWindow, TheFrameOffersOnlyWhatTheStyleAllows)
{
    struct Case {
        const char* title;
        DWORD style;
        bool minimise;
        bool maximise;
        bool resize;
    } cases[] = {
        {"dialog", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, false, false, false},
        {"minimise only", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, true, false, false},
        {"overlapped", WS_OVERLAPPEDWINDOW, true, true, true},
    };
    for (const Case& c : cases) {
        HWND w = open(c.style, c.title);
        std::vector<std::string> actions;
        pumpUntil([&] {
            actions = allowedActions(w);
            return !actions.empty();
        });
        // What the manager lets the user do, and the boxes we ask it to draw
        // (Motif hints: flags, functions, decorations; 0x08/0x20 minimise,
        // 0x10/0x40 maximise).
        EXPECT_EQ(has(actions, "_NET_WM_ACTION_MAXIMIZE_HORZ"), c.maximise) << c.title;
        EXPECT_EQ(has(actions, "_NET_WM_ACTION_RESIZE"), c.resize) << c.title;
        std::vector<unsigned long> motif = property(xWindow(w), "_MOTIF_WM_HINTS");
        ASSERT_GE(motif.size(), 3u) << c.title;
        EXPECT_EQ((motif[1] & 0x08) != 0, c.minimise) << c.title;
        EXPECT_EQ((motif[2] & 0x20) != 0, c.minimise) << c.title;
        EXPECT_EQ((motif[1] & 0x10) != 0, c.maximise) << c.title;
        EXPECT_EQ((motif[2] & 0x40) != 0, c.maximise) << c.title;
        EXPECT_TRUE(has(actions, "_NET_WM_ACTION_CLOSE")) << c.title;
        destroyWindow(w);
    }
}

TEST_F(XWindow, TheWindowIconIsOurs)
{
    HWND w = open(WS_OVERLAPPEDWINDOW, "icon");
    HICON icon = loadProgramIcon(102);
    ASSERT_NE(icon, nullptr);
    // A window shown without an icon gets the manager's picture; ours must
    // replace it on a window long settled, with no event of the X server
    // left to carry our change along.
    ASSERT_TRUE(pumpUntil([&] { return !property(xWindow(w), "_NET_WM_ICON").empty(); }));
    pumpFor(std::chrono::milliseconds(300));
    sendMessage(w, WM_SETICON, ICON_BIG, (LPARAM)icon);
    // Width, height, then ARGB pixels: the built-in picture is 32 by 32 and
    // dark blue inside its border, its corner transparent.
    auto ours = [&] {
        std::vector<unsigned long> data = property(xWindow(w), "_NET_WM_ICON");
        for (size_t at = 0; at + 2 < data.size();) {
            unsigned long width = data[at], height = data[at + 1];
            if (width == 32 && height == 32 && at + 2 + 32 * 32 <= data.size()
                && (data[at + 2 + 4 * 32 + 4] & 0xFFFFFFFFul) == 0xFF000080ul && (data[at + 2] & 0xFF000000ul) == 0)
                return true;
            at += 2 + width * height;
        }
        return false;
    };
    bool found = pumpUntil(ours);
    EXPECT_TRUE(found);
    destroyWindow(w);
}

} // namespace

namespace {

TEST_F(XWindow, ANotificationAreaIsSeenWhenATrayHostRuns)
{
    if (!xtest::onPath("trayer")) GTEST_SKIP() << "no trayer here";
    EXPECT_FALSE(trayHostAvailable());
    pid_t tray = xtest::spawn({"trayer", "--edge", "bottom", "--widthtype", "pixel", "--width", "64"}, -1);
    ASSERT_GT(tray, 0);
    EXPECT_TRUE(pumpUntil([] { return trayHostAvailable(); }));
    xtest::XServer::stop(tray);
}

} // namespace
