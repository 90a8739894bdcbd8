#pragma once

#include <memory>

#include "WCriticalSection.h"
#include "WDisplayDevice.h"
#include "WHashtable.h"
#include "WString.h"
#include "WSystemTypes.h"
#include "WTimeZone.h"

class WException;
class WFont;
class WDisplayMode;
class WWindowContext;
struct WSystemHooks;

typedef WHashtable<unsigned long, WDisplayDevice, unsigned long, const WDisplayDevice&> WDisplayDeviceTable;

// The facts library start-up gathers about the program and the machine.
class WSystemInfo {
public:
    WSystemInfo();
    WSystemInfo(const WSystemInfo& other) = default;
    WSystemInfo& operator=(const WSystemInfo& other) = default;

    HINSTANCE getInstance() const { return instance; }
    const WString& getCommandLine() const { return commandLine; }
    const WString& getProgramName() const { return programName; }
    const WString& getProgramDirectory() const { return programDirectory; }
    const WString& getProgramFilename() const { return programFilename; }
    const WTimeZone& getLocalTimeZone() const { return localTimeZone; }
    const WDisplayDevice& getPrimaryDisplayDevice() const { return primaryDisplayDevice; }
    const WDisplayDeviceTable& getDisplayDevices() const { return displayDevices; }
    // The font made by the GUI module at start-up; throws WSystemException
    // when there is none (no GUI module, or no display).
    const WFont& getDefaultFont() const;
    bool hasDefaultFont() const { return defaultFont != nullptr; }
    HCURSOR getCurrentCursorHandle() const { return currentCursorHandle; }

private:
    friend class WSystem;

    HINSTANCE instance;
    WString commandLine;
    WString programName;
    WString programDirectory;
    WString programFilename;
    WTimeZone localTimeZone;
    WDisplayDevice primaryDisplayDevice;
    WDisplayDeviceTable displayDevices;
    std::shared_ptr<WFont> defaultFont;
    HCURSOR currentCursorHandle;
    bool cursorActive;
};

// The program information; empty until WSystem::startup.
extern WSystemInfo g_systemInfo;
// The library lock; usable from load on, never deleted.
extern CRITICAL_SECTION g_mutex;

// Library start-up and shutdown, the message loop, message boxes and small
// system services. Window-system work goes through the hooks the GUI module
// installs (WSystemHooks.h); without them everything runs headless.
class WSystem {
public:
    enum CursorType { CURSOR_NONE = 0, CURSOR_ARROW = 1, CURSOR_HAND = 2, CURSOR_SIZE_WE = 3 };

    static void startup(const char* name);
    static void startup(const char* name, HINSTANCE instance, HINSTANCE previous, char* commandLine, int show);
    static void shutdown();

    static void exit(int code);
    static int messageLoop(HWND window, unsigned long acceleratorId);
    static void addDialogWindow(HWND window);
    static void removeDialogWindow(HWND window);
    static bool isDialogWindow(HWND window);
    // The registered dialog windows in registration order (at most max);
    // returns how many there are. The version changes with every change.
    static unsigned long getDialogWindows(HWND* out, unsigned long max);
    static unsigned long getDialogWindowsVersion();

    static void showException(WWindowContext* owner, const WException& e);
    static void showMessage(WWindowContext* owner, const char* text, const char* caption, bool warning);
    static bool showQuestion(WWindowContext* owner, const char* text, const char* caption);

    static void sleep(unsigned long seconds);
    static void sleepMs(unsigned long milliseconds);
    static bool getPerformanceCounter(long long& value);
    static bool getPerformanceFrequency(long long& value);
    static bool getPerformanceTimeScale(double& seconds);

    static bool existsFile(const char* path);
    static void windowsTime2CTime(const FILETIME& fileTime, unsigned long long& seconds);
    static void cTime2WindowsTime(const unsigned long long& seconds, FILETIME& fileTime);
    static void extractPath(const char* path, WString& out, bool fileName);
    static void extractFileExtension(const char* path, WString& out);
    static void getCurrentDirectory(WString& out);
    static void setCurrentDirectory(const char* path);

    static double round(const double& x, int decimals);
    static float round(const float& x, int decimals);
    static int float2Int(float x);
    static void calcCRC32(const unsigned char* data, unsigned long length, unsigned long& crc);
    static void setLocale(const char* locale);

    static HCURSOR setCurrentCursor(CursorType type);
    static void showCursor(bool show);
    static bool isCursorActive();

    static HINSTANCE getInstance();
    static const WSystemInfo& getSystemInfo();
    static unsigned long getSysErrCode();

    static void initMutex(CRITICAL_SECTION& mutex);
    static void enterMutex(CRITICAL_SECTION& mutex);
    static void leaveMutex(CRITICAL_SECTION& mutex);
    static bool tryEnterMutex(CRITICAL_SECTION& mutex);
    static void deleteMutex(CRITICAL_SECTION& mutex);

    // Display devices: the GUI module enumerates them; headless the table
    // stays empty.
    static void getDisplayDevices(WDisplayDeviceTable& devices);
    static bool getDisplayDevice(const char* name, WDisplayDevice& device);
    // Display modes; defined by the GUI module.
    static void getCurrentDisplayMode(WDisplayMode& mode, const WDisplayDevice& device);
    static void setDisplayMode(const WDisplayMode& mode, const WDisplayDevice& device);
    static void getDisplayModes(WLinkedList<WDisplayMode, const WDisplayMode&>& modes, const WDisplayDevice& device,
        unsigned long xRes, unsigned long yRes, unsigned long bpp, unsigned long frequency);
    static bool setOptimalDisplayMode(WDisplayMode& mode, const WDisplayDevice& device, unsigned long xRes,
        unsigned long yRes, unsigned long bpp, unsigned long frequency);

    // Installs the GUI module's hooks (copied); null members stay headless.
    static void setHooks(const WSystemHooks& hooks);
};
