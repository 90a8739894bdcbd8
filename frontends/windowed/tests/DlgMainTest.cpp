// The configuration dialog on Qt's offscreen platform: its fields from
// cfg/init.txt, validation on Start, a real server started and stopped on a
// loopback port, and the exit that saves the four keys and the autostart
// entry.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "DlgMain.h"
#include "Controls.h"
#include "Platform.h"
#include "Resources.h"
#include "TrayIcon.h"
#include "ServerTestSupport.h"
#include "WSystem.h"
#include "ZorvaneVersion.h"

using namespace servertest;

namespace {

struct Offscreen {
    Offscreen() { setenv("QT_QPA_PLATFORM", "offscreen", 1); }
} g_offscreen;

char g_instance;

// Message boxes the dialog shows, answered at once.
struct BoxCatcher {
    std::vector<std::string> texts;
    std::vector<std::string> captions;
    QTimer timer;
    BoxCatcher()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            texts.push_back(box->text().toStdString());
            captions.push_back(box->windowTitle().toStdString());
            box->done(QMessageBox::Ok);
        });
        timer.start();
    }
};

bool g_quitSeen = false;

// Runs the message loop until the condition holds (bounded).
bool pumpUntil(const std::function<bool()>& done, int ms = 8000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        MSG msg;
        while (wplat::peekMessage(msg, nullptr, wplat::Peek::Remove)) {
            if (msg.message == WM_QUIT) {
                g_quitSeen = true;
                continue;
            }
            wplat::translateMessage(msg);
            wplat::dispatchMessage(msg);
        }
        QCoreApplication::processEvents();
        if (std::chrono::steady_clock::now() > deadline) return false;
        usleep(2000);
    }
    return true;
}

class DlgMainTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static bool started = false;
        if (started) return;
        started = true;
        // PHP reads the site's php.ini only, not the machine's extra ones.
        setenv("PHP_INI_SCAN_DIR", "", 1);
        static char commandLine[] = "";
        WSystem::startup("Zorvane dialog test", (HINSTANCE)&g_instance, nullptr, commandLine, 1);
        res::registerResources();
        wplat::registerControlClasses();
    }

    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", home.root.c_str(), 1);
        const char* source = std::getenv("ZV_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        for (const char* f : {"mime.txt", "vdir.txt", "cgi.txt"})
            site.write(std::string("cfg/") + f, readFile(std::string(source) + "/cfg/" + f));
        site.write("www/index.html", "hello from the dialog");
        port = freePort();
        site.write("cfg/init.txt",
            "httpHost=127.0.0.1\r\nhttpPort=" + std::to_string(port) + "\r\ndocPath=" + site.root
                + "/www\r\nopenURL=\r\nautoFinish=3\r\n");
        g_quitSeen = false;
    }

    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

    HWND item(DlgMain& d, int id) { return wplat::getDlgItem(d.getWindowHandle(), id); }
    std::string text(DlgMain& d, int id) { return wplat::getWindowText(item(d, id)); }
    void command(DlgMain& d, unsigned long id) { wplat::sendMessage(d.getWindowHandle(), WM_COMMAND, id, 0); }

    TempFolder home;
    TempSite site;
    unsigned port = 0;
};

} // namespace

TEST_F(DlgMainTest, FieldsValidationStartStopAndExit)
{
    ASSERT_NE(wplat::startUi(), wplat::UiStart::NoDisplay);
    BoxCatcher boxes;
    DlgMain dialog(nullptr);
    ASSERT_EQ(dialog.show(false), 1);
    HWND window = dialog.getWindowHandle();
    ASSERT_NE(window, nullptr);

    // Fields from cfg/init.txt; Stop disabled; shown without -autostart.
    EXPECT_EQ(text(dialog, 1002), "127.0.0.1");
    EXPECT_EQ(text(dialog, 1003), std::to_string(port));
    EXPECT_EQ(text(dialog, 1004), site.root + "/www");
    EXPECT_EQ(wplat::getWindowText(window), ZORVANE_WITH_PHP);
    EXPECT_TRUE(wplat::isWindowVisible(window));
    EXPECT_TRUE(wplat::isWindowEnabled(item(dialog, 1001)));
    EXPECT_FALSE(wplat::isWindowEnabled(item(dialog, 1008)));
    EXPECT_FALSE(dialog.isAutostart());

    // Invalid port and empty path: the box, red fields, no server.
    for (const char* bad : {"0", "abc"}) {
        wplat::setWindowText(item(dialog, 1003), bad);
        size_t before = boxes.texts.size();
        command(dialog, 1001);
        ASSERT_EQ(boxes.texts.size(), before + 1) << bad;
        EXPECT_EQ(boxes.texts.back(), "Please check marked fields.");
        EXPECT_EQ(boxes.captions.back(), "Information");
        EXPECT_FALSE(dialog.getServer().isRunning());
        EXPECT_EQ(dialog.getMapping(1003)->backColor, 255u);
    }
    // The red field is painted with the brush its panel hands it.
    HDC dc = wplat::getDC(item(dialog, 1003));
    LRESULT red = wplat::sendMessage(window, WM_CTLCOLOREDIT, (WPARAM)dc, (LPARAM)item(dialog, 1003));
    wplat::releaseDC(item(dialog, 1003), dc);
    EXPECT_NE(red, 0);
    EXPECT_EQ((HBRUSH)red, dialog.getMapping(1003)->backBrush);
    wplat::setWindowText(item(dialog, 1003), std::to_string(port).c_str());
    wplat::setWindowText(item(dialog, 1004), "");
    command(dialog, 1001);
    EXPECT_EQ(boxes.texts.back(), "Please check marked fields.");
    EXPECT_EQ(dialog.getMapping(1004)->backColor, 255u);
    EXPECT_EQ(dialog.getMapping(1003)->backColor, 0xFFFFFFu);
    EXPECT_FALSE(dialog.getMapping(1007)->coloured); // the status line is never invalid
    wplat::setWindowText(item(dialog, 1004), (site.root + "/www").c_str());

    // Start: the server answers; Start disabled, Stop enabled, status line.
    size_t boxesBefore = boxes.texts.size();
    command(dialog, 1001);
    EXPECT_EQ(boxes.texts.size(), boxesBefore);
    ASSERT_TRUE(pumpUntil([&] { return wplat::isWindowEnabled(item(dialog, 1008)); }));
    // The server's own start lines follow "running ..." on the status line.
    const std::string started = "Document path: " + site.root + "/www";
    ASSERT_TRUE(pumpUntil([&] { return text(dialog, 1007) == started; })) << text(dialog, 1007);
    EXPECT_FALSE(wplat::isWindowEnabled(item(dialog, 1001)));
    std::string reply = get(port, "/index.html");
    EXPECT_EQ(statusLine(reply), "HTTP/1.1 200 OK");
    EXPECT_EQ(body(reply), "hello from the dialog");

    // Levels other than -1 and 1 change nothing.
    dialog.log("per request", 2);
    dialog.log("headers", 3);
    dialog.log("always", 0);
    pumpUntil([] { return false; }, 50);
    EXPECT_EQ(text(dialog, 1007), started);

    // Stop: no waiting on this thread; the server's stop comes back as status.
    command(dialog, 1008);
    ASSERT_TRUE(pumpUntil([&] { return text(dialog, 1007) == "Webserver stopped"; }));
    ASSERT_TRUE(pumpUntil([&] { return wplat::isWindowEnabled(item(dialog, 1001)); }));
    EXPECT_FALSE(wplat::isWindowEnabled(item(dialog, 1008)));
    EXPECT_FALSE(dialog.getServer().isRunning());

    // Restart while running: Stop is posted, and the Start after it runs the
    // server again with the fields as they are.
    command(dialog, 1001);
    ASSERT_TRUE(
        pumpUntil([&] { return dialog.getServer().isRunning() && wplat::isWindowEnabled(item(dialog, 1008)); }));
    dialog.log("before the restart", 1);
    EXPECT_EQ(text(dialog, 1007), "before the restart");
    dialog.restart();
    // Only a new start of the server writes its start lines again.
    ASSERT_TRUE(pumpUntil([&] { return dialog.getServer().isRunning() && text(dialog, 1007) == started; }));
    EXPECT_EQ(statusLine(get(port, "/index.html")), "HTTP/1.1 200 OK");
    command(dialog, 1008);
    ASSERT_TRUE(pumpUntil([&] { return text(dialog, 1007) == "Webserver stopped"; }));

    // An error line goes to error.log and the status line.
    dialog.log("disk full", -1);
    EXPECT_EQ(text(dialog, 1007), "Critical error occurred. Plese see error.log");
    std::string errors = readFile(site.path("error.log"));
    EXPECT_NE(errors.find(": disk full\r\n"), std::string::npos) << errors;

    // The tray tip follows the status.
    EXPECT_EQ(getTrayTip(window, 102), "Critical error occurred. Plese see error.log");
    // Offscreen there is no notification area: closing the window minimises
    // it, as hidden nothing would lead back to it, and says why.
    wplat::sendMessage(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wplat::isWindow(window));
    EXPECT_TRUE(wplat::isWindowVisible(window));
    EXPECT_TRUE(wplat::isIconic(window));
    EXPECT_EQ(text(dialog, 1007), "No notification area: Zorvane stays in the task bar.");
    // A double click on the tray icon (once a tray exists) restores it.
    wplat::postMessage(window, 0x402, 102, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(pumpUntil([&] { return wplat::isWindowVisible(window) && !wplat::isIconic(window); }));

    // Exit while running: the server is stopped on the dialog's thread, then
    // the four keys and the autostart entry are saved and the loop ends.
    wplat::sendMessage(item(dialog, 1009), 0x00F1 /* BM_SETCHECK */, 1, 0);
    command(dialog, 1001);
    ASSERT_TRUE(pumpUntil([&] { return dialog.getServer().isRunning(); }));
    command(dialog, 1099);
    ASSERT_TRUE(pumpUntil([] { return g_quitSeen; }, 15000));
    EXPECT_FALSE(dialog.getServer().isRunning());
    EXPECT_FALSE(wplat::isWindow(window));
    EXPECT_EQ(readFile(site.path("cfg/init.txt")),
        "httpHost=127.0.0.1\r\nhttpPort=" + std::to_string(port) + "\r\ndocPath=" + site.root + "/www\r\nopenURL=\r\n");
    EXPECT_TRUE(std::filesystem::exists(home.path("autostart/zorvane-gui.desktop")));
}

TEST_F(DlgMainTest, AutostartIsReadEvenWithoutInitFileAndSavedOff)
{
    ASSERT_NE(wplat::startUi(), wplat::UiStart::NoDisplay);
    home.write("autostart/zorvane-gui.desktop", "[Desktop Entry]\nType=Application\nExec=x\n");
    ::remove(site.path("cfg/init.txt").c_str());
    DlgMain dialog(nullptr);
    dialog.show(false);
    EXPECT_TRUE(dialog.isAutostart());
    EXPECT_EQ(text(dialog, 1002), "localhost");
    EXPECT_EQ(text(dialog, 1003), "80");
    EXPECT_EQ(wplat::sendMessage(item(dialog, 1009), 0x00F0 /* BM_GETCHECK */, 0, 0), 1);
    wplat::sendMessage(item(dialog, 1009), 0x00F1, 0, 0);
    // The end of the session saves and ends like the menu's exit.
    wplat::postMessage(dialog.getWindowHandle(), WM_QUERYENDSESSION, 0, 0);
    ASSERT_TRUE(pumpUntil([] { return g_quitSeen; }));
    EXPECT_FALSE(std::filesystem::exists(home.path("autostart/zorvane-gui.desktop")));
    EXPECT_NE(readFile(site.path("cfg/init.txt")).find("httpHost=localhost\r\nhttpPort=80\r\n"), std::string::npos);
}

TEST_F(DlgMainTest, PortsBeyondTheRangeInTheFileNeverWrap)
{
    ASSERT_NE(wplat::startUi(), wplat::UiStart::NoDisplay);
    // 4294967376 is 80 once cut to 32 bits; it must stay out of range.
    for (const char* written : {"4294967376", "65536", "-1"}) {
        site.write("cfg/init.txt",
            std::string("httpHost=127.0.0.1\r\nhttpPort=") + written + "\r\ndocPath=" + site.root
                + "/www\r\nopenURL=\r\n");
        DlgMain dialog(nullptr);
        dialog.show(false);
        EXPECT_EQ(text(dialog, 1003), "65536") << written;
        EXPECT_NE(dialog.getConfig().port, 80u) << written;
    }
}

TEST_F(DlgMainTest, ErrorsNameTheLogOrSayItCannotBeWritten)
{
    ASSERT_NE(wplat::startUi(), wplat::UiStart::NoDisplay);
    DlgMain dialog(nullptr);
    dialog.show(false);
    dialog.log("disk full", -1);
    EXPECT_EQ(text(dialog, 1007), "Critical error occurred. Plese see error.log");
    EXPECT_TRUE(std::filesystem::exists(site.path("error.log")));
    // A folder where the log should be: the line cannot go there, and the
    // status line must not send the user to it.
    ::remove(site.path("error.log").c_str());
    site.makeFolders("error.log");
    dialog.log("disk full", -1);
    EXPECT_EQ(text(dialog, 1007), "Critical error occurred. error.log cannot be written.");
}

TEST_F(DlgMainTest, AFailedSaveOnExitIsLoggedAndShown)
{
    ASSERT_NE(wplat::startUi(), wplat::UiStart::NoDisplay);
    BoxCatcher boxes;
    DlgMain dialog(nullptr);
    dialog.show(false);
    ::remove(site.path("cfg/init.txt").c_str());
    site.makeFolders("cfg/init.txt");
    EXPECT_NE(std::string(dialog.saveConfig().getBuf()).find("were not saved in " + site.root + "/cfg/init.txt"),
        std::string::npos);
    command(dialog, 1099);
    ASSERT_TRUE(pumpUntil([] { return g_quitSeen; }, 15000));
    ASSERT_EQ(boxes.captions.size(), 1u);
    EXPECT_EQ(boxes.captions[0], "Error");
    EXPECT_NE(boxes.texts[0].find("The settings were not saved"), std::string::npos) << boxes.texts[0];
    EXPECT_NE(readFile(site.path("error.log")).find("The settings were not saved"), std::string::npos);
}

// A tray click made while a box of the dialog is open is handled once the box
// is gone, not under it.
TEST_F(DlgMainTest, TrayClicksDuringABoxWaitForIt)
{
    ASSERT_NE(wplat::startUi(), wplat::UiStart::NoDisplay);
    DlgMain dialog(nullptr);
    dialog.show(false);
    HWND window = dialog.getWindowHandle();
    dialog.hideWindow();
    ASSERT_FALSE(wplat::isWindowVisible(window));
    wplat::setWindowText(item(dialog, 1003), "abc");

    int ticks = 0;
    bool shownUnderTheBox = false;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        if (ticks++ == 0) {
            wplat::postMessage(window, 0x402, 102, WM_LBUTTONDBLCLK);
            return;
        }
        shownUnderTheBox = shownUnderTheBox || wplat::isWindowVisible(window);
        if (ticks > 5) box->done(QMessageBox::Ok);
    });
    timer.start();
    command(dialog, 1001); // invalid port: "Please check marked fields."
    EXPECT_GT(ticks, 5);
    EXPECT_FALSE(shownUnderTheBox);
    EXPECT_TRUE(pumpUntil([&] { return wplat::isWindowVisible(window); }, 3000));
}
