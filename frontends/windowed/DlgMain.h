#pragma once

#include <atomic>
#include <mutex>

#include "ControlMapper.h"
#include "ServerConfig.h"
#include "WControl.h"
#include "WDialog.h"
#include "WMenu.h"
#include "WThread.h"
#include "Zorvane.h"
#include "ZorvaneControl.h"

// The windowed program's user interface: the configuration dialog (host,
// port, document folder, start with the session, Start and Stop, a status
// line) and the tray icon with its menu. It owns the server, shows the
// server's state, keeps the configuration in cfg/init.txt and stops the
// server on its own thread when the program ends.
class DlgMain : public WDialog, public ControlMapper, public ZorvaneControl, public WRunable {
public:
    explicit DlgMain(WWindowContext* parent);
    ~DlgMain() override;

    // Whether a failed save is shown in a box or only written to error.log.
    enum class ExitReport { Box, LogOnly };

    void loadConfig();
    // Writes cfg/init.txt and the autostart entry; what went wrong, or "".
    WString saveConfig();
    void requestExit();
    void exitApplication(ExitReport report = ExitReport::Box);
    void showTrayMenu();
    void browseDocumentPath();

    void onDialogCreate() override;
    void onDialogClose() override;
    void onPanelCommand(unsigned long id, unsigned long code, WControl* control) override;
    LRESULT onWindowMessage(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam) override;
    void run() override;

    void start() override;
    void stop() override;
    void restart() override;
    void onStarted() override;
    void onStopped() override;
    void onException(const WException& e) override;
    void log(const char* message, int level) override;
    // The status line shows errors and the ordinary lines only.
    bool isLogShown(int level) const override { return level == -1 || level == 1; }
    void command(int code) override;
    void onRequestFinished() override;

    const ServerConfig& getConfig() const { return config; }
    Zorvane& getServer() { return server; }
    bool isAutostart() const { return autostart; }
    WString getStatusText();
    // What the tray's website item opens: the README, else the running server's start page.
    WString websiteAddress();

    // Private messages: the status line changed; the server started (wParam
    // 1) or stopped (0). Posted by the server's threads to the dialog.
    static constexpr unsigned int MESSAGE_STATUS = 0x8000 + 1;
    static constexpr unsigned int MESSAGE_RUNNING = 0x8000 + 2;

private:
    void postCommand(unsigned long id);
    void showStatus();
    void showNote(const char* note);
    // Boxes of the dialog; a tray click made meanwhile is replayed after them.
    void showBox(const WException& e);
    void showBox(const char* text, const char* caption, bool warning);
    void afterBox();
    // Shows the window, restored when minimised, on top.
    void bringBack();
    void showRunning(bool running);

    Zorvane server;
    ServerConfig config;
    bool autostart;
    std::atomic<bool> restartPending;
    WControl btStart;
    WControl btStop;
    WString statusText;
    std::atomic<int> exitTries;
    int boxDepth = 0;
    LPARAM pendingTrayClick = 0;
    WMenu trayMenuBar;
    WMenu trayMenus[2];
    // Guards statusText and the error.log append across the server's threads.
    std::mutex statusLock;
};
