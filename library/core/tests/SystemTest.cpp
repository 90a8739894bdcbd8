#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <clocale>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "WDate.h"
#include "WException.h"
#include "WSystem.h"
#include "WSystemHooks.h"

namespace {

std::string text(const WString& s)
{
    return std::string(s.getBuf(), s.length());
}

} // namespace

TEST(SystemStartup, HeadlessConsoleStart)
{
    setenv("TZ", "AEST-10AEDT,M10.1.0,M4.1.0/3", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    WSystem::startup("Zorvane Test");
    const WSystemInfo& info = WSystem::getSystemInfo();
    EXPECT_STREQ(info.getProgramName(), "Zorvane Test");
    EXPECT_EQ(info.getInstance(), nullptr);
    EXPECT_STREQ(info.getCommandLine(), "");

    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    EXPECT_EQ(text(info.getProgramFilename()), exe);
    std::string directory(exe);
    directory.erase(directory.rfind('/'));
    EXPECT_EQ(text(info.getProgramDirectory()), directory);

    EXPECT_TRUE(WSystem::isCursorActive());
    struct sigaction pipe;
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &pipe), 0);
    EXPECT_EQ(pipe.sa_handler, SIG_IGN); // sockets: a vanished peer must not end the program
    EXPECT_EQ(info.getDisplayDevices().size(), 0u);
    EXPECT_STREQ(info.getPrimaryDisplayDevice().getDeviceName(), "display");
    EXPECT_STREQ(info.getPrimaryDisplayDevice().getDescription(), "Primary Display");
    EXPECT_TRUE(info.getPrimaryDisplayDevice().isPrimary());
    EXPECT_EQ((GUID*)info.getPrimaryDisplayDevice(), nullptr);
    EXPECT_FALSE(info.hasDefaultFont());
    EXPECT_THROW(info.getDefaultFont(), WSystemException);

    EXPECT_EQ(info.getLocalTimeZone().getBias(), -600);
    EXPECT_TRUE(info.getLocalTimeZone().isDaylightZone());
    WDate date(1704067200LL); // 2024-01-01 00:00 UTC: summer in Sydney
    EXPECT_EQ(date.getHour(), 11);
    EXPECT_EQ(date.getUTCMinutes(), -660);

    // The windowed start needs a window system.
    char commandLine[] = "-autostart";
    try {
        WSystem::startup("Zorvane Test", nullptr, nullptr, commandLine, 0);
        FAIL();
    } catch (const WSystemException& e) {
        EXPECT_STREQ(e.getMessage(), "Cannot create window class.");
        EXPECT_EQ(e.getId(), -1);
    }
    EXPECT_STREQ(info.getCommandLine(), "-autostart");
    WSystem::shutdown();
}

namespace {
std::vector<std::string> g_calls;

void fakeDevices(WDisplayDeviceTable& devices)
{
    g_calls.push_back("devices");
    devices.put(1, WDisplayDevice("\\\\.\\DISPLAY1", "Left", false, nullptr));
    GUID guid {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    devices.put(2, WDisplayDevice("\\\\.\\DISPLAY2", "Right", true, &guid));
}
} // namespace

TEST(SystemStartup, HooksRunInOrderAndFindThePrimaryDevice)
{
    WSystemHooks hooks;
    hooks.showCursor = [](bool show) { g_calls.push_back(show ? "cursor on" : "cursor off"); };
    hooks.initToolkit = [] { g_calls.push_back("toolkit"); };
    hooks.startImaging = [] { g_calls.push_back("imaging"); };
    hooks.getDisplayDevices = fakeDevices;
    hooks.registerWindowClass = [](const char* name, HINSTANCE) {
        g_calls.push_back(std::string("class ") + name);
        return true;
    };
    hooks.shutdownImaging = [] { g_calls.push_back("imaging off"); };
    WSystem::setHooks(hooks);
    char commandLine[] = "";
    WSystem::startup("App", (HINSTANCE)0x1234, nullptr, commandLine, 1);
    WSystem::shutdown();
    WSystem::setHooks(WSystemHooks {});

    EXPECT_EQ(
        g_calls, (std::vector<std::string> {"cursor on", "toolkit", "imaging", "devices", "class App", "imaging off"}));
    const WSystemInfo& info = WSystem::getSystemInfo();
    EXPECT_EQ(info.getInstance(), (HINSTANCE)0x1234);
    EXPECT_EQ(WSystem::getInstance(), (HINSTANCE)0x1234);
    EXPECT_EQ(info.getDisplayDevices().size(), 2u);
    EXPECT_STREQ(info.getPrimaryDisplayDevice().getDeviceName(), "\\\\.\\DISPLAY2");
    ASSERT_NE((GUID*)info.getPrimaryDisplayDevice(), nullptr);
    EXPECT_EQ(((GUID*)info.getPrimaryDisplayDevice())->Data4[7], 11);

    // A copy of the program information is independent.
    WSystemInfo copy(info);
    EXPECT_EQ(copy.getDisplayDevices().size(), 2u);
    EXPECT_STREQ(copy.getProgramName(), "App");
}

TEST(SystemStartup, FailingStepStopsStartup)
{
    WSystemHooks hooks;
    hooks.initToolkit = [] { throw WSystemException("Cannot load RichEd20.dll", -1); };
    WSystem::setHooks(hooks);
    EXPECT_THROW(WSystem::startup("X"), WSystemException);
    WSystem::setHooks(WSystemHooks {});
    EXPECT_STREQ(WSystem::getSystemInfo().getProgramName(), "X");
}

TEST(SystemDisplay, DeviceByName)
{
    WDisplayDevice device;
    EXPECT_TRUE(WSystem::getDisplayDevice("", device));
    EXPECT_STREQ(device.getDeviceName(), "display");
    EXPECT_STREQ(device.getDescription(), "");
    EXPECT_TRUE(device.isPrimary());
    EXPECT_FALSE(WSystem::getDisplayDevice("display", device));

    WSystemHooks hooks;
    hooks.getDisplayDevices = fakeDevices;
    WSystem::setHooks(hooks);
    EXPECT_TRUE(WSystem::getDisplayDevice("\\\\.\\DISPLAY1", device));
    EXPECT_STREQ(device.getDescription(), "Left");
    EXPECT_FALSE(WSystem::getDisplayDevice("\\\\.\\display1", device));
    WSystem::setHooks(WSystemHooks {});
}

TEST(SystemMessages, HeadlessBoxesGoToStderr)
{
    testing::internal::CaptureStderr();
    WSystem::showException(nullptr, WSystemException("Boom", -7));
    WSystem::showMessage(nullptr, "Server stopped", "Information", false);
    bool yes = WSystem::showQuestion(nullptr, "Quit?", "Zorvane");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(yes);
    EXPECT_NE(err.find("Error: WSystemException: Boom (id=-7, syserr="), std::string::npos) << err;
    EXPECT_NE(err.find("Information: Server stopped\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Zorvane: Quit?\n"), std::string::npos) << err;
}

TEST(SystemMessages, MessageLoopReturnsTheExitCode)
{
    std::thread poster([] {
        WSystem::sleepMs(20);
        WSystem::exit(42);
    });
    EXPECT_EQ(WSystem::messageLoop(nullptr, 0), 42);
    poster.join();
    // A quit posted before the loop runs ends it at once.
    WSystem::exit(7);
    EXPECT_EQ(WSystem::messageLoop(nullptr, 0), 7);
}

TEST(SystemMessages, DialogRegistry)
{
    HWND a = (HWND)0x1000, b = (HWND)0x2000, c = (HWND)0x3000;
    unsigned long v0 = WSystem::getDialogWindowsVersion();
    WSystem::addDialogWindow(a);
    WSystem::addDialogWindow(b);
    WSystem::addDialogWindow(a);
    WSystem::removeDialogWindow(c);
    EXPECT_TRUE(WSystem::isDialogWindow(a));
    EXPECT_FALSE(WSystem::isDialogWindow(c));
    HWND list[4];
    EXPECT_EQ(WSystem::getDialogWindows(list, 4), 2u);
    EXPECT_EQ(list[0], a);
    EXPECT_EQ(list[1], b);
    EXPECT_EQ(WSystem::getDialogWindowsVersion(), v0 + 2);
    // Removing one and adding another keeps the size but changes the version.
    WSystem::removeDialogWindow(a);
    WSystem::addDialogWindow(c);
    EXPECT_EQ(WSystem::getDialogWindows(list, 1), 2u);
    EXPECT_EQ(list[0], b);
    EXPECT_EQ(WSystem::getDialogWindowsVersion(), v0 + 4);
    WSystem::removeDialogWindow(b);
    WSystem::removeDialogWindow(c);
    EXPECT_EQ(WSystem::getDialogWindows(nullptr, 0), 0u);
}

TEST(SystemPaths, ExtractPathAndExtension)
{
    struct Case {
        const char* path;
        const char* directory;
        const char* file;
    } cases[] = {
        {"C:\\dir\\file.txt", "C:\\dir", "file.txt"},
        {"file.txt", "", "file.txt"},
        {"dir/", "dir", ""},
        {"\\name", "", "name"},
        {"/name", "", "name"},
        {"/usr/lib/x.so", "/usr/lib", "x.so"},
        {"a/b\\c", "a/b", "c"},
    };
    for (const Case& c : cases) {
        WString out("unchanged");
        WSystem::extractPath(c.path, out, false);
        EXPECT_STREQ(out, c.directory) << c.path;
        WSystem::extractPath(c.path, out, true);
        EXPECT_STREQ(out, c.file) << c.path;
    }
    WString out("unchanged");
    WSystem::extractPath("", out, true);
    EXPECT_STREQ(out, "unchanged");

    const char* ext[][2] = {{"a.b\\c", "b\\c"}, {"name", ""}, {"name.", ""}, {"x.tar.gz", "gz"}};
    for (auto& e : ext) {
        WSystem::extractFileExtension(e[0], out);
        EXPECT_STREQ(out, e[1]) << e[0];
    }
}

TEST(SystemPaths, LongCurrentDirectory)
{
    WString start;
    WSystem::getCurrentDirectory(start);
    char base[] = "/tmp/cwd-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    std::string deep = base;
    for (int i = 0; i < 12; i++) {
        deep += "/" + std::string(40, (char)('a' + i));
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    ASSERT_GT(deep.size(), 400u);
    WSystem::setCurrentDirectory(deep.c_str());
    WString now;
    WSystem::getCurrentDirectory(now);
    EXPECT_EQ(text(now), deep);
    WSystem::setCurrentDirectory(start);
    WSystem::getCurrentDirectory(now);
    EXPECT_EQ(text(now), text(start));

    EXPECT_TRUE(WSystem::existsFile("/proc/self/exe"));
    EXPECT_FALSE(WSystem::existsFile(deep.c_str())); // a folder is no file
    EXPECT_FALSE(WSystem::existsFile((deep + "/missing").c_str()));
    std::string command = std::string("rm -rf ") + base;
    ASSERT_EQ(system(command.c_str()), 0);
}

TEST(SystemNumbers, RoundingAndCRC)
{
    EXPECT_DOUBLE_EQ(WSystem::round(2.345, 2), 2.35);
    EXPECT_DOUBLE_EQ(WSystem::round(-2.345, 2), -2.35);
    EXPECT_DOUBLE_EQ(WSystem::round(2.5, 0), 3.0);
    EXPECT_DOUBLE_EQ(WSystem::round(1e300, 2), 1e300); // no integer overflow
    EXPECT_FLOAT_EQ(WSystem::round(2.345f, 2), 2.35f);
    EXPECT_FLOAT_EQ(WSystem::round(-0.5f, 0), -1.0f);
    EXPECT_EQ(WSystem::float2Int(2.5f), 2);
    EXPECT_EQ(WSystem::float2Int(3.5f), 4);
    EXPECT_EQ(WSystem::float2Int(-2.5f), -2);

    const unsigned char* digits = (const unsigned char*)"123456789";
    unsigned long crc = 0xFFFFFFFFUL;
    WSystem::calcCRC32(digits, 9, crc);
    EXPECT_EQ(~crc & 0xFFFFFFFFUL, 0xCBF43926UL);
    crc = 0xFFFFFFFFUL;
    WSystem::calcCRC32(digits, 4, crc);
    WSystem::calcCRC32(digits + 4, 5, crc);
    EXPECT_EQ(~crc & 0xFFFFFFFFUL, 0xCBF43926UL);
}

// Decimal counts beyond what a double can scale give x back (or 0 when the
// place is far above any double), never NaN or infinity.
TEST(SystemNumbers, RoundingWithExtremeDecimals)
{
    struct Case {
        double x;
        int decimals;
        double expected;
    };
    const Case cases[] = {
        {2.345, 400, 2.345},
        {-2.345, 400, -2.345},
        {0.0, 400, 0.0},
        {1.5, INT_MAX, 1.5},
        {1.5, INT_MAX - 1, 1.5},
        {1e300, 10, 1e300},
        {2.345, 307, 2.345},
        {123.0, -400, 0.0},
        {123.0, INT_MIN + 1, 0.0},
        {-123.0, -400, 0.0},
        {150.0, -2, 200.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + " to " + std::to_string(c.decimals));
        double r = WSystem::round(c.x, c.decimals);
        EXPECT_TRUE(std::isfinite(r));
        EXPECT_DOUBLE_EQ(r, c.expected);
        if (std::isfinite((float)c.x)) {
            float f = WSystem::round((float)c.x, c.decimals);
            EXPECT_TRUE(std::isfinite(f));
            EXPECT_FLOAT_EQ(f, (float)c.expected);
        }
    }
}

// existsFile answers from the file's status: a FIFO nobody writes to must
// not block it (routing asks it with request paths).
TEST(SystemPaths, ExistsFileNeverOpens)
{
    char templ[] = "/tmp/zvfifoXXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    std::string dir = templ;
    std::string fifo = dir + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto answer = std::async(std::launch::async, [&] { return WSystem::existsFile(fifo.c_str()); });
    if (answer.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        // Release the blocked open so the test can end.
        int fd = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        answer.wait();
        close(fd);
        ADD_FAILURE() << "existsFile blocked on a FIFO";
    } else {
        EXPECT_TRUE(answer.get());
    }
    std::string file = dir + "/plain";
    {
        std::ofstream(file) << "x";
    }
    EXPECT_TRUE(WSystem::existsFile(file.c_str()));
    EXPECT_FALSE(WSystem::existsFile(dir.c_str()));
    EXPECT_FALSE(WSystem::existsFile((dir + "/missing").c_str()));
    EXPECT_FALSE(WSystem::existsFile(""));
    unlink(file.c_str());
    unlink(fifo.c_str());
    rmdir(dir.c_str());
}

TEST(SystemTime, FileTimesAndCounters)
{
    FILETIME ft {};
    unsigned long long seconds = 1;
    ft.dwLowDateTime = (uint32_t)116444736000000000ULL;
    ft.dwHighDateTime = (uint32_t)(116444736000000000ULL >> 32);
    WSystem::windowsTime2CTime(ft, seconds);
    EXPECT_EQ(seconds, 0u);
    FILETIME back {};
    WSystem::cTime2WindowsTime(0, back);
    EXPECT_EQ(back.dwLowDateTime, ft.dwLowDateTime);
    EXPECT_EQ(back.dwHighDateTime, ft.dwHighDateTime);
    unsigned long long now = 1733650000ULL;
    WSystem::cTime2WindowsTime(now, back);
    WSystem::windowsTime2CTime(back, seconds);
    EXPECT_EQ(seconds, now);

    long long f = 0, a = 0, b = 0;
    double scale = 0;
    ASSERT_TRUE(WSystem::getPerformanceFrequency(f));
    ASSERT_TRUE(WSystem::getPerformanceTimeScale(scale));
    EXPECT_DOUBLE_EQ(scale, 1.0 / (double)f);
    ASSERT_TRUE(WSystem::getPerformanceCounter(a));
    WSystem::sleepMs(30);
    ASSERT_TRUE(WSystem::getPerformanceCounter(b));
    EXPECT_GE((double)(b - a) * scale, 0.029);
    EXPECT_LT((double)(b - a) * scale, 1.0);
}

TEST(SystemLocks, TryEnterReallyTries)
{
    CRITICAL_SECTION lock;
    WSystem::initMutex(lock);
    ASSERT_TRUE(WSystem::tryEnterMutex(lock));
    ASSERT_TRUE(WSystem::tryEnterMutex(lock)); // re-entrant for the owner
    std::atomic<int> other {-1};
    std::thread t([&] {
        other = WSystem::tryEnterMutex(lock) ? 1 : 0;
        if (other == 1) WSystem::leaveMutex(lock);
    });
    t.join();
    EXPECT_EQ(other, 0);
    WSystem::leaveMutex(lock);
    WSystem::leaveMutex(lock);
    std::thread u([&] {
        other = WSystem::tryEnterMutex(lock) ? 1 : 0;
        if (other == 1) WSystem::leaveMutex(lock);
    });
    u.join();
    EXPECT_EQ(other, 1);
    WSystem::deleteMutex(lock);

    // The library lock works before and after start-up.
    WSystem::enterMutex(g_mutex);
    WSystem::enterMutex(g_mutex);
    WSystem::leaveMutex(g_mutex);
    WSystem::leaveMutex(g_mutex);
}

TEST(SystemLocale, SetLocale)
{
    WSystem::setLocale("C");
    try {
        WSystem::setLocale("xx_NOWHERE.bogus");
        FAIL();
    } catch (const WSystemException& e) {
        EXPECT_STREQ(e.getMessage(), "Cannot set country/locale to xx_NOWHERE.bogus");
        EXPECT_EQ(e.getId(), -2);
    }
    WSystem::setLocale("");
    WSystem::setLocale("C");
}

TEST(SystemCursor, CursorsWithoutWindowSystem)
{
    EXPECT_EQ(WSystem::setCurrentCursor(WSystem::CURSOR_ARROW), nullptr);
    EXPECT_EQ(WSystem::getSystemInfo().getCurrentCursorHandle(), nullptr);
    WSystem::showCursor(false);
    EXPECT_FALSE(WSystem::isCursorActive());
    WSystem::showCursor(true);
    EXPECT_TRUE(WSystem::isCursorActive());

    WSystemHooks hooks;
    hooks.loadCursor = [](int type) { return (HCURSOR)(uintptr_t)(0x100 + type); };
    WSystem::setHooks(hooks);
    EXPECT_EQ(WSystem::setCurrentCursor(WSystem::CURSOR_HAND), (HCURSOR)0x102);
    EXPECT_EQ(WSystem::getSystemInfo().getCurrentCursorHandle(), (HCURSOR)0x102);
    EXPECT_EQ(WSystem::setCurrentCursor(WSystem::CURSOR_NONE), nullptr);
    EXPECT_EQ(WSystem::setCurrentCursor((WSystem::CursorType)9), nullptr);
    WSystem::setHooks(WSystemHooks {});
}
