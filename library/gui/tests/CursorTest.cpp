// The cursor the program chooses shows when the pointer moves over its
// windows (WM_SETCURSOR is sent as the platform does).

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <cstdlib>

#include "Platform.h"
#include "WSystem.h"
#include "WWindow.h"

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

struct Handler : WWindow::EventHandler {
    int moves = 0;
    void onWindowMouseMove(int, int, void*) override { moves++; }
};

TEST(Cursor, TheCurrentCursorShowsOverOurWindows)
{
    WSystem::startup("ZvCursorTest", nullptr, nullptr, (char*)"", 1);
    Handler handler;
    WWindow window;
    window.create(nullptr, "cursor window", &handler, WWindow::STYLE_OVERLAPPED, 10, 10, 200, 100);
    window.showWindow();
    QWidget* widget = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() == QStringLiteral("cursor window")) widget = w;
    }
    ASSERT_NE(widget, nullptr);
    struct Case {
        WSystem::CursorType type;
        Qt::CursorShape shape;
    } cases[] = {{WSystem::CURSOR_HAND, Qt::PointingHandCursor}, {WSystem::CURSOR_SIZE_WE, Qt::SizeHorCursor},
        {WSystem::CURSOR_ARROW, Qt::ArrowCursor}};
    for (const Case& c : cases) {
        EXPECT_NE(WSystem::setCurrentCursor(c.type), nullptr);
        QMouseEvent move(QEvent::MouseMove, QPointF(20, 20), widget->mapToGlobal(QPointF(20, 20)), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &move);
        EXPECT_EQ(widget->cursor().shape(), c.shape) << c.type;
    }
    MSG msg;
    while (wplat::peekMessage(msg, nullptr, wplat::Peek::Remove))
        wplat::dispatchMessage(msg);
    EXPECT_EQ(handler.moves, 3);
}

} // namespace
