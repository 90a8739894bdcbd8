// The tray icon on Qt's QSystemTrayIcon: one icon per window and id; the
// icon's activations are posted to the window as the tray callback.
#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "Platform.h"
#include "QtIcons_p.h"
#include "TrayIcon.h"

namespace {

struct Entry {
    QSystemTrayIcon* icon = nullptr;
    std::string tip;
};

std::mutex g_lock;
std::map<std::pair<HWND, unsigned int>, Entry>& g_icons = *new std::map<std::pair<HWND, unsigned int>, Entry>;

std::string cut(const char* tip)
{
    std::string text = tip != nullptr ? tip : "";
    if (text.size() > TRAY_TIP_LENGTH) text.resize(TRAY_TIP_LENGTH);
    return text;
}

} // namespace

bool trayHostAvailable()
{
    return QApplication::instance() != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
}

bool addTrayIcon(HWND window, unsigned int id, HICON icon, const char* tip)
{
    if (QApplication::instance() == nullptr || !wplat::isWindow(window)) return false;
    std::lock_guard<std::mutex> guard(g_lock);
    Entry& entry = g_icons[{window, id}];
    if (entry.icon == nullptr) {
        // Owned here; the application is its parent so it is found with the program's objects.
        entry.icon = new QSystemTrayIcon(
            wplat::detail::qtIcon(icon != nullptr ? icon : loadProgramIcon(102)), QApplication::instance());
        QObject::connect(entry.icon, &QSystemTrayIcon::activated, [window, id](QSystemTrayIcon::ActivationReason why) {
            LPARAM mouse = 0;
            if (why == QSystemTrayIcon::DoubleClick || why == QSystemTrayIcon::Trigger)
                mouse = WM_LBUTTONDBLCLK;
            else if (why == QSystemTrayIcon::Context)
                mouse = WM_RBUTTONDOWN;
            if (mouse != 0) wplat::postMessage(window, TRAY_CALLBACK_MESSAGE, id, mouse);
        });
    }
    entry.tip = cut(tip);
    entry.icon->setToolTip(QString::fromUtf8(entry.tip.c_str()));
    entry.icon->show();
    return true;
}

bool setTrayTip(HWND window, unsigned int id, const char* tip)
{
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_icons.find({window, id});
    if (it == g_icons.end()) return false;
    it->second.tip = cut(tip);
    it->second.icon->setToolTip(QString::fromUtf8(it->second.tip.c_str()));
    return true;
}

bool removeTrayIcon(HWND window, unsigned int id)
{
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_icons.find({window, id});
    if (it == g_icons.end()) return false;
    it->second.icon->hide();
    delete it->second.icon;
    g_icons.erase(it);
    return true;
}

std::string getTrayTip(HWND window, unsigned int id)
{
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_icons.find({window, id});
    return it == g_icons.end() ? std::string() : it->second.tip;
}
