// zorvane_gui: the server driven from a configuration dialog and a tray icon.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "AppIcon.h"
#include "DlgMain.h"
#include "FrontEnd.h"
#include "HomeFolder.h"
#include "InstanceMutex.h"
#include "Platform.h"
#include "Resources.h"
#include "TrayIcon.h"
#include "WException.h"
#include "WSystem.h"
#include "ZorvaneVersion.h"

namespace {

const char* const PROGRAM_TITLE = ZORVANE_WITH_PHP " V1.1";

// A stand-in for the instance handle: any non-null value of the program.
char g_instance;

// The command line as one text, arguments with spaces quoted.
std::string commandLine(int argc, char* argv[])
{
    std::string line;
    for (int i = 1; i < argc; i++) {
        std::string word = argv[i];
        if (!line.empty()) line += ' ';
        if (word.find(' ') != std::string::npos || word.empty())
            line += '"' + word + '"';
        else
            line += word;
    }
    return line;
}

// The end of the session (SIGTERM, SIGHUP, SIGINT) reaches the dialog as
// WM_QUERYENDSESSION, so it saves and stops as at the end of a log-on.
std::atomic<HWND> g_dialogWindow {nullptr};

void blockSessionSignals(sigset_t& set)
{
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void watchSessionSignals(sigset_t set)
{
    std::thread([set]() {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0) continue;
            HWND window = g_dialogWindow.load();
            if (window == nullptr || !wplat::postMessage(window, WM_QUERYENDSESSION, 0, 0)) _exit(0);
        }
    }).detach();
}

// A thread that could not be stopped still uses the server: leave without
// destructors rather than pull objects from under it.
void leaveIfServerBusy(DlgMain* dialog)
{
    if (dialog != nullptr && !dialog->getServer().hasEnded()) {
        std::fflush(nullptr);
        ::_exit(0);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    sigset_t sessionSignals;
    blockSessionSignals(sessionSignals);
    signal(SIGPIPE, SIG_IGN);
    setServerFrontEnd(FrontEnd::Windowed);

    if (instanceMutex().alreadyExists()) {
        // A box where there is a display, else the same text on stderr;
        // the session signals end the program as usual meanwhile.
        pthread_sigmask(SIG_UNBLOCK, &sessionSignals, nullptr);
        wplat::startUi();
        WSystem::showMessage(nullptr, "Zorvane is still running.\r\nPlease check the Taskbar Icon.", "Info", true);
        return 0;
    }
    if (wplat::startUi() == wplat::UiStart::NoDisplay) {
        std::fputs("zorvane_gui: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                   "Run zorvane_cmd to serve without a display.\n",
            stderr);
        return 1;
    }
    watchSessionSignals(sessionSignals);

    std::string line = commandLine(argc, argv);
    std::unique_ptr<DlgMain> dialog;
    try {
        WSystem::startup(PROGRAM_TITLE, (HINSTANCE)&g_instance, nullptr, line.data(), 1);
        res::registerResources();
        // The window's and the tray's picture (icon 102).
        registerProgramIcon((unsigned int)res::ICON_MAIN, AppIcon::png(), AppIcon::size());
        WSystem::setCurrentDirectory(HomeFolder::find(WSystem::getSystemInfo().getProgramDirectory().getBuf()).c_str());
        dialog = std::make_unique<DlgMain>(nullptr);
        dialog->show(false);
        g_dialogWindow = dialog->getWindowHandle();
        WSystem::messageLoop(dialog->getWindowHandle(), 0);
        g_dialogWindow = nullptr;
        leaveIfServerBusy(dialog.get());
        dialog.reset();
    } catch (WException& e) {
        g_dialogWindow = nullptr;
        wplat::messageBox(nullptr, e.toString(), "Error", MB_OK);
        if (!wplat::isUiStarted()) {
            std::fprintf(stderr, "Error: %s\n", e.toString().getBuf());
        }
        leaveIfServerBusy(dialog.get());
        dialog.reset();
    }
    try {
        WSystem::shutdown();
    } catch (WException&) {
    }
    return 0;
}
