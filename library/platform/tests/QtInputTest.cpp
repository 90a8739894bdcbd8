// Real Qt input through the backend: keys become WM_KEYDOWN (and WM_CHAR
// once translated), mouse presses and closing the window become messages,
// and a message box asked for from a worker thread runs on the UI thread.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "MessagePump_p.h"
#include "Platform.h"

using namespace wplat;

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

std::vector<std::string> g_log;

LRESULT proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_KEYDOWN:
        g_log.push_back("keydown " + std::to_string(wp));
        break;
    case WM_CHAR:
        g_log.push_back("char " + std::to_string(wp));
        break;
    case WM_LBUTTONDOWN:
        g_log.push_back("ldown " + std::to_string(GET_X_LPARAM(lp)) + "," + std::to_string(GET_Y_LPARAM(lp)));
        break;
    case WM_CLOSE:
        g_log.push_back("close");
        return 0;
    default:
        break;
    }
    return defWindowProc(w, m, wp, lp);
}

QWidget* widgetShowing(HWND window)
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == QString::fromStdString(getWindowText(window))) return w;
    }
    return nullptr;
}

class QtInput : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(startUi(), UiStart::NoDisplay);
        WindowClass cls;
        cls.name = "QtInput";
        cls.proc = proc;
        registerClass(cls);
    }
    void SetUp() override
    {
        g_log.clear();
        window = createWindowEx(0, "QtInput", "input window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 200, 100,
            nullptr, nullptr, nullptr, nullptr);
        setFocus(window);
        drain();
        g_log.clear();
        widget = widgetShowing(window);
        ASSERT_NE(widget, nullptr);
    }
    void TearDown() override { destroyWindow(window); }

    HWND window = nullptr;
    QWidget* widget = nullptr;
};

TEST_F(QtInput, KeysBecomeKeyDownAndTranslatedCharacters)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
    QCoreApplication::sendEvent(widget, &tab);
    QKeyEvent umlaut(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("\xc3\xa4"));
    QCoreApplication::sendEvent(widget, &umlaut);
    drain();
    EXPECT_EQ((std::vector<std::string> {
                  "keydown 65", "char 97", "keydown 9", "char 9", "keydown 0", "char 195", "char 164"}),
        g_log);
}

TEST_F(QtInput, MouseAndCloseBecomeMessages)
{
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(12, 34), widget->mapToGlobal(QPointF(12, 34)), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &down);
    drain();
    widget->close();
    drain();
    EXPECT_TRUE(isWindow(window));
    EXPECT_EQ((std::vector<std::string> {"ldown 12,34", "close"}), g_log);
}

TEST_F(QtInput, MessageBoxesFromWorkersRunOnTheUiThread)
{
    // Answer the box as soon as it shows.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr) box->button(QMessageBox::Yes)->click();
    });
    answer.start(5);
    std::atomic<int> result {-1};
    std::atomic<bool> done {false};
    std::thread worker([&] {
        result = messageBox(window, "Really?", "Question", MB_YESNO | MB_ICONQUESTION);
        done = true;
    });
    MSG msg;
    while (!done.load()) {
        if (peekMessage(msg, nullptr, Peek::Remove)) dispatchMessage(msg);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    EXPECT_EQ(result.load(), IDYES);
}

} // namespace

namespace {

TEST_F(QtInput, PopupMenusReturnOrPostTheChosenCommand)
{
    HMENU menu = createPopupMenu();
    appendMenu(menu, MF_STRING, 1000, "Show");
    appendMenu(menu, MF_SEPARATOR, 0, nullptr);
    appendMenu(menu, MF_STRING | MF_GRAYED, 1100, "Stop");
    appendMenu(menu, MF_STRING, 1099, "Exit");
    QTimer pick;
    std::vector<std::string> seen;
    QObject::connect(&pick, &QTimer::timeout, [&] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (popup == nullptr) return;
        for (QAction* a : popup->actions()) {
            seen.push_back(a->isSeparator() ? "-" : a->text().toStdString() + (a->isEnabled() ? "" : " (off)"));
            if (a->text() == "Exit") popup->setActiveAction(a);
        }
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(popup, &enter);
    });
    pick.start(5);
    EXPECT_EQ(trackPopupMenu(menu, TPM_RETURNCMD, 10, 10, window), 1099u);
    EXPECT_EQ((std::vector<std::string> {"Show", "-", "Stop (off)", "Exit"}), seen);
    EXPECT_EQ(trackPopupMenu(menu, 0, 10, 10, window), 1u);
    MSG msg;
    ASSERT_TRUE(peekMessage(msg, nullptr, Peek::Remove));
    EXPECT_EQ(msg.message, (UINT)WM_COMMAND);
    EXPECT_EQ(LOWORD(msg.wParam), 1099u);
    destroyMenu(menu);
}

} // namespace

namespace {

int g_ticks = 0;

LRESULT tickProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_TIMER) g_ticks++;
    return defWindowProc(w, m, wp, lp);
}

TEST_F(QtInput, TimersTickWhileAModalBoxRuns)
{
    WindowClass cls;
    cls.name = "Ticker";
    cls.proc = tickProc;
    registerClass(cls);
    HWND ticker
        = createWindowEx(0, "Ticker", "ticker", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    setTimer(ticker, 1, 5);
    // One pass of the program's loop first, as a click handler would run.
    MSG msg;
    while (g_ticks == 0 && getMessage(msg, nullptr))
        dispatchMessage(msg);
    g_ticks = 0;
    // The box is closed once the timer has ticked under it a few times, or
    // after a while without that (a slow build may take long to show it).
    QTimer closer;
    QElapsedTimer shown;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        if (!shown.isValid()) {
            g_ticks = 0;
            shown.start();
        }
        if (g_ticks >= 3 || shown.elapsed() > 5000) box->button(QMessageBox::Ok)->click();
    });
    closer.start(10);
    EXPECT_EQ(messageBox(ticker, "Wait", "Box", MB_OK), IDOK);
    EXPECT_GE(g_ticks, 3);
    destroyWindow(ticker);
}

} // namespace

namespace {

TEST_F(QtInput, ABoxHoldsUpOnlyItsOwner)
{
    struct Case {
        bool owned;
        Qt::WindowModality modality;
    } cases[] = {{true, Qt::WindowModal}, {false, Qt::ApplicationModal}};
    for (const Case& c : cases) {
        Qt::WindowModality seen = Qt::NonModal;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            answer.stop();
            seen = box->windowModality();
            box->button(QMessageBox::Ok)->click();
        });
        answer.start(5);
        EXPECT_EQ(messageBox(c.owned ? window : nullptr, "text", "caption", MB_OK), IDOK);
        EXPECT_EQ(seen, c.modality) << c.owned;
    }
}

} // namespace
