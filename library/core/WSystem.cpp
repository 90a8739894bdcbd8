#include "WSystem.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "WException.h"
#include "WSocketUtils.h"
#include "WSystemHooks.h"

constinit CRITICAL_SECTION g_mutex;
WSystemInfo g_systemInfo;

namespace {

constinit WSystemHooks g_hooks;
bool g_windowSystemStarted = false;

// Dialog windows whose keyboard input the message loop routes.
WHashtable<HWND, HWND, HWND, HWND> g_dialogWindows;
unsigned long g_dialogWindowsVersion = 0;

// The quit message of the headless loop.
std::mutex g_quitLock;
std::condition_variable g_quitPosted;
bool g_quitPending = false;
int g_quitCode = 0;

// Writes a box's text to stderr when no window system shows it.
bool messageBox(WWindowContext* owner, const char* text, const char* caption, int kind)
{
    bool answer = false;
    if (g_hooks.messageBox != nullptr && g_hooks.messageBox(owner, text, caption, kind, answer)) return answer;
    fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    fflush(stderr);
    return false;
}

WString readProgramFilename()
{
    WString path;
    for (size_t size = 256; size <= 1u << 20; size *= 2) {
        WString buffer((unsigned long)size);
        ssize_t n = readlink("/proc/self/exe", buffer.getBuf(), size);
        if (n < 0) return path;
        if ((size_t)n < size) {
            path.assign(buffer.getBuf(), (unsigned long)n);
            return path;
        }
    }
    return path;
}

} // namespace

WSystemInfo::WSystemInfo() : instance(nullptr), currentCursorHandle(nullptr), cursorActive(false)
{
}

const WFont& WSystemInfo::getDefaultFont() const
{
    if (defaultFont == nullptr) throw WSystemException("No default font (no window system).", -1);
    return *defaultFont;
}

// --- Start-up --------------------------------------------------------------

void WSystem::setHooks(const WSystemHooks& hooks)
{
    g_hooks = hooks;
}

void WSystem::startup(const char* name)
{
    // The library lock is ready from load on; there is nothing to initialise.
    g_systemInfo.programName = name != nullptr ? name : "";

    if (g_hooks.createDefaultFont != nullptr)
        g_systemInfo.defaultFont = g_hooks.createDefaultFont("MS Sans Serif", 8, 0, 400, 0);

    g_systemInfo.programFilename = readProgramFilename();
    long slash = -1;
    const char* file = g_systemInfo.programFilename.getBuf();
    for (long i = 0; file[i] != '\0'; i++) {
        if (file[i] == '/' || file[i] == '\\') slash = i;
    }
    if (slash >= 0)
        g_systemInfo.programDirectory.assign(file, (unsigned long)slash);
    else
        g_systemInfo.programDirectory.clear();

    g_systemInfo.cursorActive = true;
    if (g_hooks.showCursor != nullptr) g_hooks.showCursor(true);

    if (g_hooks.initToolkit != nullptr) g_hooks.initToolkit();
    if (g_hooks.startImaging != nullptr) g_hooks.startImaging();

    WSocketUtils::startup();

    WTimeZone zone;
    if (WTimeZone::loadLocalZone(zone)) g_systemInfo.localTimeZone = zone;

    getDisplayDevices(g_systemInfo.displayDevices);
    WDisplayDeviceTable devices(g_systemInfo.displayDevices);
    while (devices.hasMoreElements()) {
        if (devices.currentValue().isPrimary()) {
            g_systemInfo.primaryDisplayDevice = devices.currentValue();
            return;
        }
    }
    g_systemInfo.primaryDisplayDevice = WDisplayDevice("display", "Primary Display", true, nullptr);
}

void WSystem::startup(const char* name, HINSTANCE instance, HINSTANCE, char* commandLine, int)
{
    startup(name);
    g_systemInfo.instance = instance;
    g_systemInfo.commandLine = commandLine != nullptr ? commandLine : "";
    if (g_hooks.registerWindowClass == nullptr || !g_hooks.registerWindowClass(name, instance))
        throw WSystemException("Cannot create window class.", -1);
    g_windowSystemStarted = true;
}

void WSystem::shutdown()
{
    if (g_hooks.shutdownImaging != nullptr) g_hooks.shutdownImaging();
    WSocketUtils::shutdown();
}

// --- Message loop and dialog registry ----------------------------------------

void WSystem::exit(int code)
{
    if (g_windowSystemStarted && g_hooks.exit != nullptr) {
        g_hooks.exit(code);
        return;
    }
    std::lock_guard<std::mutex> lock(g_quitLock);
    g_quitPending = true;
    g_quitCode = code;
    g_quitPosted.notify_all();
}

int WSystem::messageLoop(HWND window, unsigned long acceleratorId)
{
    if (g_windowSystemStarted && g_hooks.messageLoop != nullptr) return g_hooks.messageLoop(window, acceleratorId);
    // Without a window system there are no messages but the quit message.
    std::unique_lock<std::mutex> lock(g_quitLock);
    g_quitPosted.wait(lock, [] { return g_quitPending; });
    g_quitPending = false;
    return g_quitCode;
}

void WSystem::addDialogWindow(HWND window)
{
    std::lock_guard<CRITICAL_SECTION> lock(g_mutex);
    if (g_dialogWindows.put(window, window) != nullptr) g_dialogWindowsVersion++;
}

void WSystem::removeDialogWindow(HWND window)
{
    std::lock_guard<CRITICAL_SECTION> lock(g_mutex);
    if (g_dialogWindows.remove(window)) g_dialogWindowsVersion++;
}

bool WSystem::isDialogWindow(HWND window)
{
    std::lock_guard<CRITICAL_SECTION> lock(g_mutex);
    return g_dialogWindows.containsKey(window);
}

unsigned long WSystem::getDialogWindows(HWND* out, unsigned long max)
{
    std::lock_guard<CRITICAL_SECTION> lock(g_mutex);
    WHashtable<HWND, HWND, HWND, HWND> copy(g_dialogWindows);
    unsigned long n = 0;
    while (copy.hasMoreElements()) {
        if (n < max && out != nullptr) out[n] = copy.currentKey();
        n++;
    }
    return n;
}

unsigned long WSystem::getDialogWindowsVersion()
{
    std::lock_guard<CRITICAL_SECTION> lock(g_mutex);
    return g_dialogWindowsVersion;
}

// --- Message boxes ---------------------------------------------------------

void WSystem::showException(WWindowContext* owner, const WException& e)
{
    messageBox(owner, e.toString().getBuf(), "Error", 1);
}

void WSystem::showMessage(WWindowContext* owner, const char* text, const char* caption, bool warning)
{
    messageBox(owner, text, caption, warning ? 1 : 0);
}

bool WSystem::showQuestion(WWindowContext* owner, const char* text, const char* caption)
{
    return messageBox(owner, text, caption, 2);
}

// --- Time ------------------------------------------------------------------

void WSystem::sleep(unsigned long seconds)
{
    struct timespec t = {(time_t)seconds, 0};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) { }
}

void WSystem::sleepMs(unsigned long milliseconds)
{
    struct timespec t = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) { }
}

bool WSystem::getPerformanceCounter(long long& value)
{
    struct timespec t;
    if (clock_gettime(CLOCK_MONOTONIC, &t) != 0) return false;
    value = (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
    return true;
}

bool WSystem::getPerformanceFrequency(long long& value)
{
    value = 1000000000LL;
    return true;
}

bool WSystem::getPerformanceTimeScale(double& seconds)
{
    long long frequency = 0;
    if (!getPerformanceFrequency(frequency) || frequency == 0) return false;
    seconds = 1.0 / (double)frequency;
    return true;
}

void WSystem::windowsTime2CTime(const FILETIME& fileTime, unsigned long long& seconds)
{
    unsigned long long t = (unsigned long long)fileTime.dwHighDateTime << 32 | fileTime.dwLowDateTime;
    seconds = (t - 116444736000000000ULL) / 10000000ULL;
}

void WSystem::cTime2WindowsTime(const unsigned long long& seconds, FILETIME& fileTime)
{
    unsigned long long t = (seconds + 11644473600ULL) * 10000000ULL;
    fileTime.dwLowDateTime = (uint32_t)t;
    fileTime.dwHighDateTime = (uint32_t)(t >> 32);
}

// --- Files and paths -------------------------------------------------------

bool WSystem::existsFile(const char* path)
{
    if (path == nullptr) return false;
    // Answered from the file's status alone: opening a FIFO or a device would
    // block or have effects of its own.
    struct stat st;
    if (stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) == 0;
}

void WSystem::extractPath(const char* path, WString& out, bool fileName)
{
    if (path == nullptr || path[0] == '\0') {
        if (!fileName) out.clear();
        return;
    }
    long separator = -1;
    for (long i = 1; path[i] != '\0'; i++) {
        if (path[i] == '/' || path[i] == '\\') separator = i;
    }
    if (!fileName) {
        if (separator < 0)
            out.clear();
        else
            out.assign(path, (unsigned long)separator);
        return;
    }
    if (separator >= 0)
        out = path + separator + 1;
    else if (path[0] == '/' || path[0] == '\\')
        out = path + 1;
    else
        out = path;
}

void WSystem::extractFileExtension(const char* path, WString& out)
{
    const char* dot = path != nullptr ? strrchr(path, '.') : nullptr;
    if (dot == nullptr)
        out.clear();
    else
        out = dot + 1;
}

void WSystem::getCurrentDirectory(WString& out)
{
    for (size_t size = 256; size <= 1u << 20; size *= 2) {
        WString buffer((unsigned long)size);
        if (getcwd(buffer.getBuf(), size) != nullptr) {
            out = buffer.getBuf();
            return;
        }
        if (errno != ERANGE) break;
    }
    out.clear();
}

void WSystem::setCurrentDirectory(const char* path)
{
    if (path != nullptr && chdir(path) != 0) {
        // Reports no failure by design; the caller checks the directory it needs.
    }
}

// --- Numbers ---------------------------------------------------------------

double WSystem::round(const double& x, int decimals)
{
    // Beyond what a double can scale the arithmetic gives infinities and
    // NaN. So many decimals keep x as it is; so few places round it to 0.
    double scale = pow(10.0, (double)decimals + 1.0);
    double back = pow(10.0, decimals);
    if (!std::isfinite(scale) || !std::isfinite(back)) return x;
    if (back == 0) return std::isfinite(x) ? 0.0 * x : x;
    double t = x * scale;
    if (!std::isfinite(t)) return x;
    t += x >= 0 ? 5 : -5;
    return trunc(t / 10) / back;
}

float WSystem::round(const float& x, int decimals)
{
    long double scale = powl(10.0L, (long double)decimals + 1.0L);
    long double back = powl(10.0L, decimals);
    if (!std::isfinite(scale) || !std::isfinite(back)) return x;
    if (back == 0) return std::isfinite(x) ? 0.0f * x : x;
    long double t = (long double)x * scale;
    if (!std::isfinite(t)) return x;
    t += x >= 0 ? 5 : -5;
    float whole = (float)truncl(t / 10);
    if (!std::isfinite(whole)) return x; // a place far below the float's own precision
    return (float)((long double)whole / back);
}

int WSystem::float2Int(float x)
{
    return (int)lrintf(x);
}

void WSystem::calcCRC32(const unsigned char* data, unsigned long length, unsigned long& crc)
{
    static const auto table = [] {
        struct Table {
            uint32_t v[256];
        } t {};
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t.v[i] = c;
        }
        return t;
    }();
    uint32_t c = (uint32_t)crc;
    for (unsigned long i = 0; i < length; i++)
        c = table.v[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    crc = c;
}

void WSystem::setLocale(const char* locale)
{
    if (setlocale(LC_ALL, locale != nullptr ? locale : "") == nullptr) {
        WFormattedString message("Cannot set country/locale to %s", locale != nullptr ? locale : "");
        throw WSystemException(message, -2);
    }
}

// --- Cursor ----------------------------------------------------------------

HCURSOR WSystem::setCurrentCursor(CursorType type)
{
    HCURSOR cursor = nullptr;
    if (type >= CURSOR_ARROW && type <= CURSOR_SIZE_WE && g_hooks.loadCursor != nullptr)
        cursor = g_hooks.loadCursor((int)type);
    g_systemInfo.currentCursorHandle = cursor;
    return cursor;
}

void WSystem::showCursor(bool show)
{
    if (g_hooks.showCursor != nullptr) g_hooks.showCursor(show);
    g_systemInfo.cursorActive = show;
}

bool WSystem::isCursorActive()
{
    return g_systemInfo.cursorActive;
}

// --- Program facts and locks -------------------------------------------------

HINSTANCE WSystem::getInstance()
{
    return g_systemInfo.instance;
}

const WSystemInfo& WSystem::getSystemInfo()
{
    return g_systemInfo;
}

unsigned long WSystem::getSysErrCode()
{
    return (unsigned long)errno;
}

void WSystem::initMutex(CRITICAL_SECTION&)
{
    // A CRITICAL_SECTION is ready once constructed.
}

void WSystem::enterMutex(CRITICAL_SECTION& mutex)
{
    mutex.lock();
}

void WSystem::leaveMutex(CRITICAL_SECTION& mutex)
{
    mutex.unlock();
}

bool WSystem::tryEnterMutex(CRITICAL_SECTION& mutex)
{
    return mutex.tryLock();
}

void WSystem::deleteMutex(CRITICAL_SECTION&)
{
    // Released with the object.
}

// --- Display devices ---------------------------------------------------------

void WSystem::getDisplayDevices(WDisplayDeviceTable& devices)
{
    devices.removeAll();
    if (g_hooks.getDisplayDevices != nullptr) g_hooks.getDisplayDevices(devices);
}

bool WSystem::getDisplayDevice(const char* name, WDisplayDevice& device)
{
    if (name == nullptr || name[0] == '\0') {
        device = MIROLA_DISPLAY_DEVICE_PRIMARY;
        return true;
    }
    WDisplayDeviceTable devices;
    getDisplayDevices(devices);
    while (devices.hasMoreElements()) {
        if (strcmp(devices.currentValue().getDeviceName().getBuf(), name) == 0) {
            device = devices.currentValue();
            return true;
        }
    }
    return false;
}
