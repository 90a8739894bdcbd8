// The real zorvane_gui on a private X server with a window manager and a
// notification area, driven with xdotool as a user would: where it finds its
// folder, what it saves, the tray icon and menu, minimising, the icon, the
// focus mark and the port field.
#include <gtest/gtest.h>

#include <QImage>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "DesktopSession.h"
#include "ZorvaneVersion.h"

namespace fs = std::filesystem;
using namespace desktop;

namespace {

const char* const TITLE = ZORVANE_WITH_PHP;
const char* const HOME_MARKER = "zorvane-desktop-test-home";

// Dialog template 101: 262 by 126 dialog units.
constexpr double DIALOG_WIDTH_DU = 262;
constexpr double DIALOG_HEIGHT_DU = 126;

struct DialogUnits {
    int x, y, width, height;
};
const DialogUnits HOST_FIELD {7, 18, 102, 14};
const DialogUnits PORT_FIELD {115, 18, 40, 14};
const DialogUnits BROWSE_BUTTON {225, 50, 30, 14};
const DialogUnits AUTOSTART_BOX {8, 73, 206, 10};
const DialogUnits START_BUTTON {7, 104, 50, 14};
const DialogUnits STOP_BUTTON {62, 104, 50, 14};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

int freePort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t length = sizeof a;
    if (bind(fd, (sockaddr*)&a, sizeof a) != 0 || getsockname(fd, (sockaddr*)&a, &length) != 0) {
        close(fd);
        return 0;
    }
    close(fd);
    return ntohs(a.sin_port);
}

// One GET over loopback; the whole response, or "" when nobody listens.
std::string httpGet(int port, const std::string& path)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    if (connect(fd, (sockaddr*)&a, sizeof a) != 0) {
        close(fd);
        return "";
    }
    std::string request = "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string response;
    char buffer[4096];
    auto end = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < end) {
        pollfd p {fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        response.append(buffer, (size_t)n);
    }
    close(fd);
    return response;
}

bool serves(int port, const std::string& marker, int timeoutMs)
{
    return waitUntil([&] { return httpGet(port, "/").find(marker) != std::string::npos; }, timeoutMs, 100);
}

bool isRed(uint32_t p)
{
    return red(p) > 200 && green(p) < 60 && blue(p) < 60;
}

class Desktop : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string missing;
        if (!Session::toolsPresent(missing)) {
            skipReason = missing + " is not installed (scripts/deps/windowed.txt lists the packages)";
            return;
        }
        sessionFolder = fs::temp_directory_path() / ("zorvane-desktop-" + std::to_string(getpid()));
        fs::create_directories(sessionFolder);
        session = new Session;
        if (!session->start(sessionFolder.string()))
            skipReason = "the X session did not start (see " + sessionFolder.string() + ")";
    }

    static void TearDownTestSuite()
    {
        delete session;
        session = nullptr;
        // A failed run keeps its logs and screenshots.
        std::error_code ignored;
        if (!anyFailed) fs::remove_all(sessionFolder, ignored);
    }

    void SetUp() override
    {
        if (!skipReason.empty()) {
            // CI installs the tools: there a missing one is a failure.
            if (getenv("CI") != nullptr) FAIL() << skipReason;
            GTEST_SKIP() << skipReason;
        }
        // A project as a clone has it: cfg/ and www/ beside build/bin.
        root = sessionFolder / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(root);
        project = root / "project";
        program = project / "build" / "bin" / "zorvane_gui";
        fs::create_directories(program.parent_path());
        fs::create_directories(project / "cfg");
        fs::create_directories(project / "www");
        fs::create_directories(root / "home" / ".config");
        fs::create_directories(root / "lock");
        fs::create_directories(root / "fakebin");
        fs::create_directories(root / "run");
        fs::permissions(root / "run", fs::perms::owner_all);
        const char* source = getenv("ZV_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        for (const char* name : {"mime.txt", "vdir.txt", "cgi.txt", "php.ini"})
            fs::copy_file(fs::path(source) / "cfg" / name, project / "cfg" / name);
        port = freePort();
        writeFile((project / "cfg" / "init.txt").string(),
            "httpHost=127.0.0.1\nhttpPort=" + std::to_string(port) + "\ndocPath=www\n");
        writeFile((project / "www" / "index.html").string(), std::string("<p>") + HOME_MARKER + "</p>\n");
        writeFile((project / "www" / "style.css").string(), "p { color: red; }\n");
        writeFile((project / "README.md").string(), "# Zorvane\n");
        fs::copy_file(ZORVANE_GUI_PATH, program);
        // The browser: records what it was asked to open.
        writeFile((root / "fakebin" / "xdg-open").string(),
            "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + (root / "opened.txt").string() + "\"\n");
        fs::permissions(root / "fakebin" / "xdg-open", fs::perms::owner_all);
    }

    void TearDown() override
    {
        if (HasFailure() && session != nullptr) {
            anyFailed = true;
            std::string shot = (root / "failure.png").string();
            if (saveScreenshot(shot)) std::cerr << "screen at the failure: " << shot << "\n";
        }
        for (auto& p : programs)
            p->kill();
    }

    // The screen, or a part of it, as a PNG.
    static bool saveScreenshot(const std::string& path, std::optional<Rect> area = std::nullopt)
    {
        Rect r = area.value_or(Rect {0, 0, 1024, 768});
        Pixels p = session->grab(r);
        if (p.width == 0) return false;
        QImage image(p.width, p.height, QImage::Format_RGB32);
        for (int y = 0; y < p.height; y++) {
            for (int x = 0; x < p.width; x++)
                image.setPixel(x, y, 0xFF000000u | p.at(x, y));
        }
        return image.save(QString::fromStdString(path), "PNG");
    }

    // Starts the copy of the program from another folder than its own.
    Process& start(const std::vector<std::string>& arguments = {})
    {
        std::vector<std::string> argv {program.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const char* path = getenv("PATH");
        auto env = session->environment({
            {"HOME", (root / "home").string()},
            {"XDG_CONFIG_HOME", (root / "home" / ".config").string()},
            {"XDG_DATA_HOME", (root / "home" / ".local" / "share").string()},
            {"XDG_RUNTIME_DIR", (root / "run").string()},
            {"ZORVANE_LOCK_DIR", (root / "lock").string()},
            {"PATH", (root / "fakebin").string() + ":" + (path != nullptr ? path : "/usr/bin:/bin")},
            // PHP reads the project's php.ini only, not the machine's extra ones.
            {"PHP_INI_SCAN_DIR", ""},
            // The copy finds the libraries beside the original.
            {"LD_LIBRARY_PATH", fs::path(ZORVANE_GUI_PATH).parent_path().string()},
        });
        programs.push_back(std::make_unique<Process>());
        programs.back()->start(
            argv, env, root.string(), (root / ("program-" + std::to_string(programs.size()) + ".log")).string());
        return *programs.back();
    }

    Window dialog(int timeoutMs = 10000) { return session->waitForWindow(TITLE, timeoutMs); }

    // A dialog item's area on the screen, from its place in dialog units.
    Rect item(Window window, const DialogUnits& du)
    {
        Rect client = session->geometry(window);
        double sx = client.width / DIALOG_WIDTH_DU;
        double sy = client.height / DIALOG_HEIGHT_DU;
        Rect r;
        r.x = client.x + (int)(du.x * sx + 0.5);
        r.y = client.y + (int)(du.y * sy + 0.5);
        r.width = (int)(du.width * sx + 0.5);
        r.height = (int)(du.height * sy + 0.5);
        return r;
    }

    void clickItem(Window window, const DialogUnits& du, int repeat = 1)
    {
        Rect r = item(window, du);
        session->click(r.x + r.width / 2, r.y + r.height / 2, 1, repeat);
    }

    // Replaces a field's text as a user does: click in it, clear it, type.
    void typeInto(Window window, const DialogUnits& du, const std::string& text)
    {
        clickItem(window, du);
        std::vector<std::string> keys {"key", "--delay", "5", "End"};
        for (int i = 0; i < 40; i++)
            keys.push_back("BackSpace");
        session->xdo(keys);
        if (!text.empty()) session->type(text);
    }

    std::optional<Rect> trayIcon() { return session->waitForTrayIcon(8000); }

    void clickTray(int button, int repeat)
    {
        auto icon = trayIcon();
        ASSERT_TRUE(icon.has_value()) << "no icon in the notification area";
        // Away first: a pointer resting on the icon brings up its tool tip,
        // which would take the click.
        session->xdo({"mousemove", "--sync", "300", "100"});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        session->click(icon->x + icon->width / 2, icon->y + icon->height / 2, button, repeat);
    }

    // The popup menu once it shows; none within 5 s.
    std::optional<Rect> awaitPopupMenu()
    {
        std::optional<Rect> menu;
        waitUntil(
            [&] {
                menu = session->popupMenu();
                return menu.has_value();
            },
            5000);
        return menu;
    }

    // True once the main window shows normally again (within 5 s).
    bool windowRestored()
    {
        return waitUntil(
            [&] {
                Window now = session->findWindow(TITLE);
                return session->wmState(now) == 1 && session->viewable(now);
            },
            5000);
    }

    enum class TrayItem { Configuration, Website, Exit };

    // Opens the tray menu and clicks an entry: "Configuration", "Website of
    // Zorvane", a separator, "Exit Zorvane".
    void trayMenu(TrayItem choice)
    {
        clickTray(3, 1);
        std::optional<Rect> menu = awaitPopupMenu();
        ASSERT_TRUE(menu.has_value()) << "the tray menu did not open";
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        pickFromMenu(*menu, choice);
    }

    void pickFromMenu(const Rect& menu, TrayItem choice)
    {
        // Three rows of equal height and a thin separator before the last.
        int row = (menu.height - 8) * 2 / 7;
        int y = choice == TrayItem::Configuration ? menu.y + 4 + row / 2
            : choice == TrayItem::Website         ? menu.y + 4 + row + row / 2
                                                  : menu.y + menu.height - 4 - row / 2;
        session->click(menu.x + menu.width / 2, y);
    }

    void exitFromTray() { trayMenu(TrayItem::Exit); }

    // cfg/init.txt with its line ends as "\n".
    std::string initFile()
    {
        std::string text = readFile((project / "cfg" / "init.txt").string());
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

    static inline Session* session = nullptr;
    static inline fs::path sessionFolder;
    static inline std::string skipReason;
    static inline bool anyFailed = false;

    fs::path root;
    fs::path project;
    fs::path program;
    int port = 0;
    std::vector<std::unique_ptr<Process>> programs;
};

// --- The program's folder -----------------------------------------------------------

TEST_F(Desktop, BuildTreeProgramServesTheProjectsWwwWithItsTypes)
{
    Process& gui = start();
    Window w = dialog();
    ASSERT_NE(w, 0u) << "no configuration window";
    clickItem(w, START_BUTTON);
    ASSERT_TRUE(serves(port, HOME_MARKER, 10000)) << "the project's www/ is not served on its port";
    std::string css = httpGet(port, "/style.css");
    EXPECT_NE(css.find("Content-Type: text/css"), std::string::npos) << css.substr(0, 300);
    // Only www/ is served: the program and cfg/ stay out of reach.
    EXPECT_EQ(httpGet(port, "/zorvane_gui").find("HTTP/1.1 200"), std::string::npos);
    EXPECT_EQ(httpGet(port, "/cfg/init.txt").find("HTTP/1.1 200"), std::string::npos);
    EXPECT_FALSE(fs::exists(root / "cfg")) << "the folder it was started from must not be used";
    exitFromTray();
    EXPECT_EQ(gui.wait(15000), 0);
}

TEST_F(Desktop, SettingsAreSavedToTheProjectsInitFile)
{
    Process& gui = start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    int other = freePort();
    typeInto(w, PORT_FIELD, std::to_string(other));
    typeInto(w, HOST_FIELD, "localhost");
    exitFromTray();
    ASSERT_EQ(gui.wait(15000), 0) << "Exit from the tray menu ends with code 0";
    std::string saved = initFile();
    EXPECT_NE(saved.find("httpPort=" + std::to_string(other)), std::string::npos) << saved;
    EXPECT_NE(saved.find("httpHost=localhost"), std::string::npos) << saved;
    EXPECT_NE(saved.find("docPath=www"), std::string::npos) << saved;
}

TEST_F(Desktop, AFailedSaveIsReported)
{
    Process& gui = start();
    ASSERT_NE(dialog(), 0u);
    // A folder where the file should go: the save cannot replace it.
    fs::remove(project / "cfg" / "init.txt");
    fs::create_directory(project / "cfg" / "init.txt");
    exitFromTray();
    Window box = session->waitForWindow("Error", 8000);
    ASSERT_NE(box, 0u) << "no box tells that the settings were not saved";
    session->xdo({"windowactivate", "--sync", std::to_string(box)});
    session->key("Return");
    EXPECT_EQ(gui.wait(15000), 0);
    std::string log = readFile((project / "error.log").string());
    EXPECT_NE(log.find("not saved"), std::string::npos) << log;
}

// --- One program per machine, and the start with the session ------------------------

TEST_F(Desktop, ASecondCopyIsRefused)
{
    Process& first = start({"-autostart"});
    ASSERT_TRUE(serves(port, HOME_MARKER, 10000));
    Process& second = start();
    Window box = session->waitForWindow("Info", 8000);
    ASSERT_NE(box, 0u) << "no box says that Zorvane is still running";
    session->xdo({"windowactivate", "--sync", std::to_string(box)});
    session->key("Return");
    EXPECT_EQ(second.wait(8000), 0);
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(serves(port, HOME_MARKER, 2000));
}

TEST_F(Desktop, AutostartServesWithoutAWindow)
{
    Process& gui = start({"-autostart"});
    ASSERT_TRUE(serves(port, HOME_MARKER, 10000));
    ASSERT_TRUE(trayIcon().has_value());
    Window w = session->findWindow(TITLE);
    EXPECT_TRUE(w == 0 || !session->viewable(w)) << "the window shows after -autostart";
    exitFromTray();
    EXPECT_EQ(gui.wait(15000), 0);
    EXPECT_EQ(httpGet(port, "/"), "") << "still serving after Exit";
}

// --- The way back to the window ------------------------------------------------------------

TEST_F(Desktop, ClosedWindowComesBackByTrayDoubleClick)
{
    Process& gui = start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    session->requestClose(w);
    ASSERT_TRUE(waitUntil([&] { return !session->viewable(session->findWindow(TITLE)); }, 5000))
        << "the close box does not hide the window";
    EXPECT_TRUE(gui.running());
    clickTray(1, 2);
    w = dialog(5000);
    ASSERT_NE(w, 0u) << "a double click on the tray icon does not bring the window back";
    EXPECT_EQ(session->wmState(w), 1);
}

TEST_F(Desktop, MinimisedWindowIsRestoredByTrayAndMenu)
{
    start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    session->xdo({"windowminimize", "--sync", std::to_string(w)});
    ASSERT_TRUE(waitUntil([&] { return session->wmState(session->findWindow(TITLE)) == 3; }, 5000));
    clickTray(1, 2);
    EXPECT_TRUE(windowRestored()) << "a double click on the tray icon does not restore the minimised window";

    w = session->findWindow(TITLE);
    session->xdo({"windowminimize", "--sync", std::to_string(w)});
    ASSERT_TRUE(waitUntil([&] { return session->wmState(session->findWindow(TITLE)) == 3; }, 5000));
    trayMenu(TrayItem::Configuration);
    EXPECT_TRUE(windowRestored()) << "Configuration does not restore the minimised window";
}

TEST_F(Desktop, DialogHasNoMinimiseOrMaximiseBoxAndAFixedSize)
{
    start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    auto actions = session->atomsOf(w, "_NET_WM_ALLOWED_ACTIONS");
    auto has = [&](const char* name) { return std::find(actions.begin(), actions.end(), name) != actions.end(); };
    EXPECT_FALSE(has("_NET_WM_ACTION_MAXIMIZE_HORZ") || has("_NET_WM_ACTION_MAXIMIZE_VERT"));
    EXPECT_FALSE(has("_NET_WM_ACTION_RESIZE"));
    // What the program asks the window manager for: no minimise or maximise
    // function (openbox may still draw its buttons by its theme).
    auto motif = session->property(w, "_MOTIF_WM_HINTS");
    ASSERT_GE(motif.size(), 2u);
    const unsigned long FUNCTIONS = 1, FUNC_ALL = 1, FUNC_MINIMIZE = 8, FUNC_MAXIMIZE = 16;
    ASSERT_TRUE(motif[0] & FUNCTIONS);
    EXPECT_EQ(motif[1] & (FUNC_ALL | FUNC_MINIMIZE | FUNC_MAXIMIZE), 0u);
    XSizeHints hints {};
    ASSERT_TRUE(session->sizeHints(w, hints));
    ASSERT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
    EXPECT_EQ(hints.min_width, hints.max_width);
    EXPECT_EQ(hints.min_height, hints.max_height);
}

TEST_F(Desktop, WithoutATrayTheWindowStaysReachable)
{
    session->stopTray();
    Process& gui = start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    session->requestClose(w);
    // Not hidden away: minimised, where the window manager still lists it.
    EXPECT_TRUE(waitUntil([&] { return session->wmState(session->findWindow(TITLE)) == 3; }, 5000))
        << "without a notification area the close box must not hide the only window";
    EXPECT_TRUE(gui.running());
    // A tray host that starts later gets the icon.
    ASSERT_TRUE(session->startTray());
    EXPECT_TRUE(trayIcon().has_value()) << "the icon does not appear when a notification area starts";
}

TEST_F(Desktop, AutostartWithoutATrayLeavesTheWindowInTheTaskBar)
{
    session->stopTray();
    start({"-autostart"});
    ASSERT_TRUE(serves(port, HOME_MARKER, 10000));
    EXPECT_TRUE(waitUntil([&] { return session->wmState(session->findWindow(TITLE)) == 3; }, 5000))
        << "started with -autostart and no tray, the window must be minimised, not hidden";
    ASSERT_TRUE(session->startTray());
}

// --- Looks -----------------------------------------------------------------------------------

TEST_F(Desktop, WindowAndTrayShowOurIcon)
{
    start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    QImage ours;
    ASSERT_TRUE(ours.load(
        QString::fromStdString(std::string(getenv("ZV_SOURCE_DIR")) + "/frontends/windowed/resources/zorvane.png")));
    ours = ours.convertToFormat(QImage::Format_ARGB32);
    // Width, height, then ARGB pixels; one entry per size.
    auto holdsOurs = [&](const std::vector<unsigned long>& icon) {
        for (size_t at = 0; at + 2 <= icon.size();) {
            size_t width = icon[at];
            size_t height = icon[at + 1];
            if (at + 2 + width * height > icon.size()) return false;
            if ((int)width == ours.width() && (int)height == ours.height()) {
                // Equal but for the rounding of semi-transparent pixels.
                int differing = 0;
                for (size_t y = 0; y < height; y++) {
                    for (size_t x = 0; x < width; x++) {
                        QRgb want = ours.pixel((int)x, (int)y);
                        auto got = (uint32_t)icon[at + 2 + y * width + x];
                        int alpha = (int)(got >> 24);
                        // Compared as shown over black, so faint pixels may differ more.
                        auto near = [&](int a, int b) { return std::abs(a * alpha - b * qAlpha(want)) <= 4 * 255; };
                        bool same = std::abs(alpha - qAlpha(want)) <= 2 && near(red(got), qRed(want))
                            && near(green(got), qGreen(want)) && near(blue(got), qBlue(want));
                        differing += same ? 0 : 1;
                    }
                }
                if (differing == 0) return true;
            }
            at += 2 + width * height;
        }
        return false;
    };
    std::vector<unsigned long> icon;
    bool found = waitUntil(
        [&] {
            icon = session->property(session->findWindow(TITLE), "_NET_WM_ICON", "CARDINAL");
            return holdsOurs(icon);
        },
        3000);
    if (!found && icon.size() >= 2)
        std::cerr << "window icon: " << icon[0] << "x" << icon[1] << ", " << icon.size() << " values\n";
    EXPECT_TRUE(found) << "_NET_WM_ICON does not hold the program's own 32x32 picture";

    // The tray shows the same picture: its blue and its white Z.
    auto tray = trayIcon();
    ASSERT_TRUE(tray.has_value());
    Pixels shown = session->grab(*tray);
    int blueish = shown.count([](uint32_t p) { return blue(p) > 110 && red(p) < 60 && green(p) > 40; });
    int white = shown.count([](uint32_t p) { return red(p) > 240 && green(p) > 240 && blue(p) > 240; });
    int yellow = shown.count([](uint32_t p) { return red(p) > 200 && green(p) > 200 && blue(p) < 60; });
    EXPECT_GT(blueish, 40);
    EXPECT_GT(white, 10);
    EXPECT_EQ(yellow, 0) << "the tray shows the old icon drawn in code";
}

TEST_F(Desktop, FocusMarkMovesWithTab)
{
    start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    session->xdo({"windowactivate", "--sync", std::to_string(w)});
    clickItem(w, HOST_FIELD);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Rect browse = item(w, BROWSE_BUTTON);
    Rect check = item(w, AUTOSTART_BOX);
    Pixels browseBefore = session->grab(browse);
    Pixels checkBefore = session->grab(check);
    session->key("Tab Tab Tab"); // port, folder, "..."
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Pixels browseFocused = session->grab(browse);
    EXPECT_FALSE(browseFocused == browseBefore) << "the focused button shows no focus mark";
    session->key("Tab"); // the check box
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(session->grab(browse) == browseBefore) << "the mark stays on the button after Tab";
    Pixels checkFocused = session->grab(check);
    EXPECT_FALSE(checkFocused == checkBefore) << "the focused check box shows no focus mark";

    // Space ticks the box: a check mark, not a filled square.
    session->key("space");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Pixels ticked = session->grab(check);
    Rect box {check.x, check.y, std::min(check.height + 4, check.width), check.height};
    Pixels boxPixels = session->grab(box);
    int dark = boxPixels.count([](uint32_t p) { return red(p) < 90 && green(p) < 90 && blue(p) < 90; });
    int light = boxPixels.count([](uint32_t p) { return red(p) > 230 && green(p) > 230 && blue(p) > 230; });
    EXPECT_FALSE(ticked == checkFocused);
    EXPECT_GT(light, dark) << "a ticked box is a solid square, not a check mark";
}

TEST_F(Desktop, CtrlASelectsAllInAField)
{
    Process& gui = start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    clickItem(w, HOST_FIELD);
    session->key("ctrl+a");
    session->type("localhost");
    exitFromTray();
    ASSERT_EQ(gui.wait(15000), 0);
    EXPECT_NE(initFile().find("httpHost=localhost\n"), std::string::npos) << initFile();
}

// --- The port field ---------------------------------------------------------------------------

TEST_F(Desktop, PortTextsAreReadOneWay)
{
    Process& gui = start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    struct Case {
        std::string text;
        bool valid;
    };
    int leading = freePort();
    const Case cases[] = {
        {"0x1F90", false},
        {"0", false},
        {"65536", false},
        {"abc", false},
        {"80a", false},
        {"0" + std::to_string(leading), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        typeInto(w, PORT_FIELD, c.text);
        clickItem(w, START_BUTTON);
        if (c.valid) {
            EXPECT_TRUE(serves(leading, HOME_MARKER, 8000)) << "a valid port does not start the server";
            clickItem(w, STOP_BUTTON);
            EXPECT_TRUE(waitUntil([&] { return httpGet(leading, "/").empty(); }, 8000));
            continue;
        }
        Window box = session->waitForWindow("Information", 5000);
        EXPECT_NE(box, 0u) << "no \"Please check marked fields.\" box";
        if (box != 0) {
            session->xdo({"windowactivate", "--sync", std::to_string(box)});
            session->key("Return");
            waitUntil([&] { return !session->viewable(box); }, 3000);
        }
        Rect field = item(w, PORT_FIELD);
        Rect inner {field.x + 3, field.y + 3, field.width - 6, field.height - 6};
        EXPECT_TRUE(waitUntil([&] { return session->grab(inner).count(isRed) > inner.width * inner.height / 3; }, 2000))
            << "the field is not marked";
    }
    // A text Start refuses, left in the field: the last valid port is saved.
    typeInto(w, PORT_FIELD, "0x1F90");
    exitFromTray();
    ASSERT_EQ(gui.wait(15000), 0);
    EXPECT_NE(initFile().find("httpPort=" + std::to_string(leading) + "\n"), std::string::npos) << initFile();
}

// The picture of the README: the running program with its tray menu open.
TEST_F(Desktop, Screenshot)
{
    start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    clickItem(w, START_BUTTON);
    ASSERT_TRUE(serves(port, HOME_MARKER, 10000));
    clickTray(3, 1);
    ASSERT_TRUE(waitUntil([&] { return session->popupMenuShown(); }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const char* wanted = getenv("ZV_SCREENSHOT");
    std::string path = wanted != nullptr ? wanted : (root / "screenshot.png").string();
    Rect dialogArea = session->geometry(w);
    int left = std::max(0, dialogArea.x - 40);
    int top = std::max(0, dialogArea.y - 60);
    ASSERT_TRUE(saveScreenshot(path, Rect {left, top, 1024 - left, 768 - top}));
    QImage saved;
    ASSERT_TRUE(saved.load(QString::fromStdString(path)));
    EXPECT_EQ(saved.width(), 1024 - left);
    session->key("Escape");
}

// --- The tray menu ---------------------------------------------------------------------------

TEST_F(Desktop, WebsiteItemOpensTheReadme)
{
    start();
    ASSERT_NE(dialog(), 0u);
    trayMenu(TrayItem::Website);
    std::string opened;
    waitUntil(
        [&] {
            opened = readFile((root / "opened.txt").string());
            return !opened.empty();
        },
        5000);
    EXPECT_EQ(opened, "file://" + (project / "README.md").string() + "\n");
}

TEST_F(Desktop, TrayClicksDuringAnErrorBoxAreNotLost)
{
    // The port is taken: Start fails with a box.
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    ASSERT_EQ(bind(fd, (sockaddr*)&a, sizeof a), 0);
    ASSERT_EQ(listen(fd, 4), 0);

    Process& gui = start();
    Window w = dialog();
    ASSERT_NE(w, 0u);
    clickItem(w, START_BUTTON);
    Window box = 0;
    waitUntil(
        [&] {
            for (const char* title : {"Error", "Information"}) {
                box = session->findWindow(title);
                if (box != 0 && session->viewable(box)) return true;
            }
            return false;
        },
        8000);
    ASSERT_NE(box, 0u) << "no box for the port in use";
    // A right click on the tray icon while the box is open ...
    clickTray(3, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    session->xdo({"windowactivate", "--sync", std::to_string(box)});
    session->key("Return");
    // ... opens the menu once the box is gone.
    std::optional<Rect> menu = awaitPopupMenu();
    ASSERT_TRUE(menu.has_value()) << "the tray click was lost";
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    pickFromMenu(*menu, TrayItem::Exit);
    EXPECT_EQ(gui.wait(15000), 0);
    close(fd);
}

} // namespace
