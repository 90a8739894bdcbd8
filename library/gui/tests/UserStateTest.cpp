// Windows minimised, maximised and restored by the user (through the window
// manager) reach their handlers as the platform reports them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <cstdlib>
#include <string>
#include <vector>

#include "Platform.h"
#include "WSystem.h"
#include "WWindow.h"

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

struct Handler : WWindow::EventHandler {
    std::vector<std::string> calls;
    void onWindowRestore() override { calls.push_back("restore"); }
    void onWindowResize(unsigned long w, unsigned long h) override
    {
        calls.push_back(w == 0 && h == 0 ? "resize empty" : "resize");
    }
};

void drain()
{
    QCoreApplication::processEvents();
    MSG msg;
    while (wplat::peekMessage(msg, nullptr, wplat::Peek::Remove))
        wplat::dispatchMessage(msg);
}

TEST(UserState, HandlersHearWhatTheUserDidToTheWindow)
{
    WSystem::startup("ZvUserStateTest", nullptr, nullptr, (char*)"", 1);
    Handler handler;
    WWindow window;
    window.create(nullptr, "user state", &handler, WWindow::STYLE_OVERLAPPED, 10, 10, 200, 120);
    window.showWindow();
    drain();
    QWidget* widget = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() == QStringLiteral("user state")) widget = w;
    }
    ASSERT_NE(widget, nullptr);
    struct Case {
        const char* what;
        Qt::WindowState state;
        std::vector<std::string> calls;
    } cases[] = {{"maximised", Qt::WindowMaximized, {"resize"}}, {"restored", Qt::WindowNoState, {"restore", "resize"}},
        {"minimised", Qt::WindowMinimized, {"resize empty"}}};
    for (const Case& c : cases) {
        handler.calls.clear();
        widget->setWindowState(c.state);
        drain();
        // Resizes that follow the new state may come too; the first call tells the kind.
        ASSERT_FALSE(handler.calls.empty()) << c.what;
        std::vector<std::string> first(
            handler.calls.begin(), handler.calls.begin() + (long)std::min(handler.calls.size(), c.calls.size()));
        EXPECT_EQ(first, c.calls) << c.what;
    }
    EXPECT_TRUE(wplat::isIconic(window.getWindowHandle()));
    // The program brings the window back.
    handler.calls.clear();
    window.restoreWindow();
    drain();
    EXPECT_FALSE(wplat::isIconic(window.getWindowHandle()));
    EXPECT_FALSE(widget->isMinimized());
    ASSERT_FALSE(handler.calls.empty());
    EXPECT_EQ(handler.calls.front(), "restore");
    // Maximised by the program, the client area takes the new size at once.
    RECT before;
    window.getClientArea(before);
    window.maximizeWindow();
    drain();
    RECT after;
    window.getClientArea(after);
    EXPECT_TRUE(wplat::isZoomed(window.getWindowHandle()));
    EXPECT_GT(after.right, before.right);
    EXPECT_EQ(after.right, widget->width());
    window.restoreWindow();
    drain();
    window.getClientArea(after);
    EXPECT_EQ(after.right, before.right);
}

} // namespace
