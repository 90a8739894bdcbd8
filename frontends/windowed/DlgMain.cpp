#include "DlgMain.h"

#include <string>

#include "AppIcon.h"
#include "Autostart.h"
#include "BrowserLauncher.h"
#include "ErrorLog.h"
#include "Platform.h"
#include "Resources.h"
#include "Shell.h"
#include "TrayIcon.h"
#include "WException.h"
#include "WInitFile.h"
#include "WSystem.h"
#include "Website.h"
#include "ZorvaneVersion.h"

namespace {

const char* const INIT_FILE = "cfg/init.txt";
const char* const AUTOSTART_NAME = ZORVANE_WITH_PHP;
const char* const TRAY_TIP = ZORVANE_WITH_PHP;
const char* const CRITICAL_STATUS = "Critical error occurred. Plese see error.log";
const char* const LOG_FAILED_STATUS = "Critical error occurred. error.log cannot be written.";
const char* const NO_TRAY_STATUS = "No notification area: Zorvane stays in the task bar.";

bool onUiThread()
{
    return !wplat::isUiStarted() || wplat::isUiThread();
}

} // namespace

DlgMain::DlgMain(WWindowContext* parentContext)
    : WDialog(parentContext, res::DIALOG_MAIN), autostart(false), restartPending(false), exitTries(0)
{
    ControlMapper::setWindowContext(this);
}

DlgMain::~DlgMain()
{
    try {
        removeAll();
    } catch (WException&) {
    }
    // Nothing of the server may call into this object once it is gone.
    try {
        server.stop(true, 5000);
    } catch (WException&) {
    }
    getThread().join(6000);
    if (getWindowHandle() != nullptr) {
        removeTrayIcon(getWindowHandle(), (unsigned int)res::ICON_MAIN);
        close(0);
    }
}

// --- Configuration -----------------------------------------------------------

void DlgMain::loadConfig()
{
    try {
        WInitFile init;
        init.open(INIT_FILE, "=");
        config.host = init.getValue("httpHost");
        // A number beyond the port range stays beyond it (shown marked, refused
        // at bind) instead of wrapping onto some other port.
        long long port = ServerConfig::readPort(init.getValue("httpPort"));
        config.port = port >= 0 && port <= 65535 ? (uint32_t)port : 65536u;
        config.documentPath = init.getValue("docPath");
        config.startURL = init.getValue("openURL");
    } catch (WFileNotFoundException&) {
    }
    // Read apart from the file: a missing file must not end the user's entry.
    autostart = Autostart::exists();
    if (config.host.length() == 0) config.host = "localhost";
    if (config.port == 0) config.port = 80;
    if (config.documentPath.length() == 0) {
        WSystem::getCurrentDirectory(config.documentPath);
        config.documentPath.replace('\\', '/');
    }
}

WString DlgMain::saveConfig()
{
    WString problem;
    try {
        // What Start would refuse is not kept for the next start either.
        validControlsToData();
        WInitFile init;
        init.putValue("httpHost", config.host.getBuf());
        init.putValue("httpPort", (unsigned long)config.port);
        init.putValue("docPath", config.documentPath.getBuf());
        init.putValue("openURL", config.startURL.getBuf());
        init.save(INIT_FILE, "=");
    } catch (WException& e) {
        WString folder;
        WSystem::getCurrentDirectory(folder);
        problem = WFormattedString(
            "The settings were not saved in %s/%s: %s", folder.getBuf(), INIT_FILE, e.getMessage().getBuf());
    }
    bool entryWritten = true;
    if (autostart) {
        std::string icon = AppIcon::install();
        entryWritten
            = Autostart::set(AUTOSTART_NAME, WSystem::getSystemInfo().getProgramFilename(), "-autostart", icon.c_str());
    } else {
        entryWritten = Autostart::remove();
    }
    if (!entryWritten) {
        if (problem.length() > 0) problem.append("\r\n");
        problem.append(WFormattedString("The start with the session was not %s: %s", autostart ? "set" : "removed",
            Autostart::entryPath().getBuf()));
    }
    return problem;
}

void DlgMain::browseDocumentPath()
{
    WString path;
    if (browseForFolder(getWindowHandle(), "Select Document Path", path)) {
        config.documentPath = path;
        dataToControl(res::ID_DOCPATH);
    }
}

// --- Dialog ----------------------------------------------------------------------

void DlgMain::onDialogCreate()
{
    try {
        loadConfig();
        setIcon(res::ICON_MAIN);
        setWindowText(res::text(res::IDS_TITLE));

        int failures = 0;
        while (!addTrayIcon(
            getWindowHandle(), (unsigned int)res::ICON_MAIN, loadProgramIcon((unsigned int)res::ICON_MAIN), TRAY_TIP)) {
            if (++failures >= 5) throw WException("Cannot create Zorvane taskbar icon.", 0);
            WSystem::sleepMs(500);
        }

        trayMenus[0].create();
        trayMenus[0].addItem(res::ID_CONFIGURATION, "Configuration");
        trayMenus[0].addItem(res::ID_WEBSITE, "Website of Zorvane");
        trayMenus[0].addSeparator();
        trayMenus[0].addItem(res::ID_EXIT, "Exit Zorvane");
        trayMenuBar.create();
        trayMenuBar.addSubMenu(trayMenus[0], "");

        btStart.create(this, "btSart", res::ID_START);
        btStop.create(this, "btStop", res::ID_STOP);
        btStop.enableWindow(false);

        mapString(res::ID_HOST, &config.host);
        mapUnsigned(res::ID_PORT, &config.port);
        mapString(res::ID_DOCPATH, &config.documentPath);
        mapString(res::ID_STATUS, &statusText);
        mapCheckBox(res::ID_AUTOSTART, &autostart);
        setReadOnly(res::ID_STATUS, true);
        setMandatory(res::ID_HOST, true);
        setMandatory(res::ID_PORT, true);
        setRange(res::ID_PORT, 1, 65535);
        dataToControls();

        if (WSystem::getSystemInfo().getCommandLine().indexOf("-autostart") >= 0) {
            wplat::sendMessage(getWindowHandle(), WM_COMMAND, res::ID_START, 0);
            if (!trayHostAvailable()) {
                // Nothing would lead back to a hidden window.
                minimizeWindow();
                showNote(NO_TRAY_STATUS);
            }
        } else {
            showWindow();
            if (!trayHostAvailable()) showNote(NO_TRAY_STATUS);
        }
    } catch (WException& e) {
        showBox(e);
        exitApplication();
    }
}

void DlgMain::onDialogClose()
{
    // Hidden, the window comes back only through the tray icon: without a
    // notification area it goes to the task bar instead.
    if (trayHostAvailable()) {
        hideWindow();
        return;
    }
    minimizeWindow();
    showNote(NO_TRAY_STATUS);
}

void DlgMain::bringBack()
{
    showWindow();
    if (wplat::isIconic(getWindowHandle())) restoreWindow();
    setForegroundWindow(true);
}

void DlgMain::onPanelCommand(unsigned long id, unsigned long, WControl*)
{
    try {
        switch (id) {
        case res::ID_CONFIGURATION:
            bringBack();
            break;
        case res::ID_START:
            start();
            break;
        case res::ID_STOP:
            stop();
            break;
        case res::ID_BROWSE:
            browseDocumentPath();
            break;
        case res::ID_EXIT:
            requestExit();
            break;
        case res::ID_WEBSITE:
            openInBrowser(websiteAddress());
            break;
        default:
            break;
        }
    } catch (WException& e) {
        log(e.getMessage(), -1);
        showBox(e);
    }
}

LRESULT DlgMain::onWindowMessage(HWND handle, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    try {
        switch (message) {
        case WM_QUERYENDSESSION:
            exitApplication(ExitReport::LogOnly);
            break;
        case TRAY_CALLBACK_MESSAGE:
            if (boxDepth > 0) {
                // A menu or the window would open under the box: after it.
                pendingTrayClick = lParam;
                return 1;
            }
            if (lParam == WM_LBUTTONDBLCLK) {
                bringBack();
            } else if (lParam == WM_RBUTTONDOWN) {
                showTrayMenu();
                return 1;
            }
            break;
        case MESSAGE_STATUS:
            showStatus();
            return 1;
        case MESSAGE_RUNNING:
            showRunning(wParam != 0);
            return 1;
        default:
            break;
        }
        return WDialog::onWindowMessage(handle, message, wParam, lParam);
    } catch (WException& e) {
        showBox(e);
    }
    return 0;
}

void DlgMain::showBox(const WException& e)
{
    boxDepth++;
    WSystem::showException(this, e);
    afterBox();
}

void DlgMain::showBox(const char* text, const char* caption, bool warning)
{
    boxDepth++;
    WSystem::showMessage(this, text, caption, warning);
    afterBox();
}

void DlgMain::afterBox()
{
    if (--boxDepth > 0 || pendingTrayClick == 0) return;
    wplat::postMessage(getWindowHandle(), TRAY_CALLBACK_MESSAGE, (WPARAM)res::ICON_MAIN, pendingTrayClick);
    pendingTrayClick = 0;
}

void DlgMain::showTrayMenu()
{
    POINT at {0, 0};
    wplat::getCursorPos(at);
    wplat::setForegroundWindow(getWindowHandle());
    HMENU popup = wplat::getSubMenu(trayMenuBar, 0);
    wplat::trackPopupMenu(popup, TPM_RIGHTBUTTON, at.x, at.y, getWindowHandle());
    wplat::postMessage(getWindowHandle(), WM_NULL, 0, 0);
}

// --- Exit ------------------------------------------------------------------------

void DlgMain::requestExit()
{
    if (exitTries < 3 && server.isRunning()) {
        if (getThread().start(this)) return;
        // The previous try is still finishing: it has posted and ends now.
        getThread().join(1000);
        if (getThread().start(this)) return;
    }
    exitApplication();
}

void DlgMain::run()
{
    exitTries++;
    try {
        server.stop(true, 5000);
    } catch (...) {
    }
    postCommand(res::ID_EXIT);
}

void DlgMain::exitApplication(ExitReport report)
{
    WString problem = saveConfig();
    if (problem.length() > 0) {
        log(problem, -1);
        // At the end of the session nobody is there to answer a box.
        if (report == ExitReport::Box) showBox(problem, "Error", true);
    }
    removeTrayIcon(getWindowHandle(), (unsigned int)res::ICON_MAIN);
    close(0);
    WSystem::exit(0);
}

void DlgMain::postCommand(unsigned long id)
{
    wplat::postMessage(getWindowHandle(), WM_COMMAND, (WPARAM)id, 0);
}

// --- Control operations ---------------------------------------------------------

void DlgMain::start()
{
    if (!validate()) {
        showBox("Please check marked fields.", "Information", false);
        return;
    }
    controlsToData();
    if (!server.isRunning()) {
        log("Webserver starting ...", 1);
        server.configure(this, config);
        server.start();
    }
}

void DlgMain::stop()
{
    if (server.isRunning()) {
        log("Webserver stopping ...", 1);
        server.stop(false, 0);
    }
}

void DlgMain::restart()
{
    if (server.isRunning()) {
        restartPending = true;
        postCommand(res::ID_STOP);
    } else {
        postCommand(res::ID_START);
    }
}

void DlgMain::onStarted()
{
    if (onUiThread())
        showRunning(true);
    else
        wplat::postMessage(getWindowHandle(), MESSAGE_RUNNING, 1, 0);
    log(ZORVANE_WITH_PHP " running ...", 1);
}

void DlgMain::onStopped()
{
    if (onUiThread())
        showRunning(false);
    else
        wplat::postMessage(getWindowHandle(), MESSAGE_RUNNING, 0, 0);
    log("Webserver stopped", 1);
    if (restartPending.exchange(false)) postCommand(res::ID_START);
}

void DlgMain::onException(const WException& e)
{
    log(e.toString(), -1);
}

void DlgMain::log(const char* message, int level)
{
    if (level != -1 && level != 1) return;
    {
        std::lock_guard<std::mutex> guard(statusLock);
        if (level == -1) {
            bool written = ErrorLog::append(message) == ErrorLog::Result::Written;
            statusText = written ? CRITICAL_STATUS : LOG_FAILED_STATUS;
        } else {
            statusText = message != nullptr ? message : "";
        }
    }
    // Controls belong to the user-interface thread; other threads post.
    if (onUiThread())
        showStatus();
    else
        wplat::postMessage(getWindowHandle(), MESSAGE_STATUS, 0, 0);
}

void DlgMain::command(int code)
{
    switch (code) {
    case 1:
        start();
        break;
    case 2:
        stop();
        break;
    case 3:
        restart();
        break;
    default:
        break;
    }
}

void DlgMain::onRequestFinished()
{
}

WString DlgMain::getStatusText()
{
    std::lock_guard<std::mutex> guard(statusLock);
    return statusText;
}

void DlgMain::showStatus()
{
    std::lock_guard<std::mutex> guard(statusLock);
    dataToControl(res::ID_STATUS);
    setTrayTip(getWindowHandle(), (unsigned int)res::ICON_MAIN, statusText);
}

void DlgMain::showNote(const char* note)
{
    {
        std::lock_guard<std::mutex> guard(statusLock);
        statusText = note;
    }
    showStatus();
}

WString DlgMain::websiteAddress()
{
    WString folder;
    WSystem::getCurrentDirectory(folder);
    WString address = Website::readmeAddress(folder);
    if (address.length() == 0 && server.isRunning()) address = Website::startPageAddress(config.host, config.port);
    return address;
}

void DlgMain::showRunning(bool running)
{
    btStart.enableWindow(!running);
    btStop.enableWindow(running);
}
