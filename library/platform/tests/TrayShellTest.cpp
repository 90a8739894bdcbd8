// The tray icon (tips, the icon's picture, clicks reaching the window) and
// the folder picker, on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "Platform.h"
#include "Shell.h"
#include "TrayIcon.h"

using namespace wplat;

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

class TrayShell : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(startUi(), UiStart::NoDisplay);
        WindowClass cls;
        cls.name = "ZvTrayTest";
        registerClass(cls);
    }
    void SetUp() override
    {
        window = createWindowEx(
            0, "ZvTrayTest", "tray owner", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override { destroyWindow(window); }

    QSystemTrayIcon* shownIcon()
    {
        for (QSystemTrayIcon* icon : QApplication::instance()->findChildren<QSystemTrayIcon*>()) {
            if (icon->isVisible()) return icon;
        }
        return nullptr;
    }

    HWND window = nullptr;
};

TEST_F(TrayShell, TipsAreKeptCutAndRemovedWithTheIcon)
{
    // The offscreen platform has no notification area; the icon is kept all the same.
    EXPECT_FALSE(trayHostAvailable());
    EXPECT_FALSE(addTrayIcon(nullptr, 7, nullptr, "x"));
    ASSERT_TRUE(addTrayIcon(window, 7, loadProgramIcon(102), "Zorvane"));
    EXPECT_EQ(getTrayTip(window, 7), "Zorvane");
    EXPECT_EQ(getTrayTip(window, 8), "");
    std::string longTip(300, 't');
    EXPECT_TRUE(setTrayTip(window, 7, longTip.c_str()));
    EXPECT_EQ(getTrayTip(window, 7), std::string(TRAY_TIP_LENGTH, 't'));
    QSystemTrayIcon* icon = shownIcon();
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->toolTip().toStdString(), std::string(TRAY_TIP_LENGTH, 't'));
    // The icon shows the program's picture: dark blue inside its border.
    QImage picture = icon->icon().pixmap(32, 32).toImage();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.pixel(4, 16) & 0xFFFFFF, 0x000080u);
    // Adding again updates the tip of the same icon.
    EXPECT_TRUE(addTrayIcon(window, 7, nullptr, "again"));
    EXPECT_EQ(shownIcon(), icon);
    EXPECT_EQ(getTrayTip(window, 7), "again");
    EXPECT_FALSE(setTrayTip(window, 8, "none"));
    EXPECT_TRUE(removeTrayIcon(window, 7));
    EXPECT_FALSE(removeTrayIcon(window, 7));
    EXPECT_EQ(getTrayTip(window, 7), "");
    EXPECT_EQ(shownIcon(), nullptr);
}

TEST_F(TrayShell, ClicksOnTheIconReachTheWindow)
{
    ASSERT_TRUE(addTrayIcon(window, 102, nullptr, "tip"));
    QSystemTrayIcon* icon = shownIcon();
    ASSERT_NE(icon, nullptr);
    struct Case {
        QSystemTrayIcon::ActivationReason why;
        LPARAM mouse;
    } cases[] = {{QSystemTrayIcon::DoubleClick, WM_LBUTTONDBLCLK}, {QSystemTrayIcon::Trigger, WM_LBUTTONDBLCLK},
        {QSystemTrayIcon::Context, WM_RBUTTONDOWN}, {QSystemTrayIcon::MiddleClick, 0}};
    for (const Case& c : cases) {
        emit icon->activated(c.why);
        MSG msg;
        bool got = peekMessage(msg, nullptr, Peek::Remove);
        if (c.mouse == 0) {
            EXPECT_FALSE(got && msg.message == TRAY_CALLBACK_MESSAGE);
            continue;
        }
        ASSERT_TRUE(got);
        EXPECT_EQ(msg.hwnd, window);
        EXPECT_EQ(msg.message, TRAY_CALLBACK_MESSAGE);
        EXPECT_EQ(msg.wParam, 102u);
        EXPECT_EQ(msg.lParam, c.mouse);
    }
    removeTrayIcon(window, 102);
}

TEST_F(TrayShell, TheFolderPickerAnswersWithTheChosenFolder)
{
    char pattern[] = "/tmp/zv-folder-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string folder = pattern;
    struct Case {
        bool accept;
        bool chosen;
    } cases[] = {{true, true}, {false, false}};
    for (const Case& c : cases) {
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            answer.stop();
            if (!c.accept) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(QString::fromStdString(folder));
            dialog->selectFile(QString::fromStdString(folder));
            static_cast<QDialog*>(dialog)->accept();
        });
        answer.start(5);
        WString path("unchanged");
        EXPECT_EQ(browseForFolder(window, "Pick a folder", path), c.chosen);
        EXPECT_STREQ(path.getBuf(), c.chosen ? folder.c_str() : "unchanged");
    }
    rmdir(folder.c_str());
}

} // namespace
