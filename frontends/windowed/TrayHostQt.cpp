// The notification area as the window layer's substrate sees it.
#include "TrayHost.h"

#include <QApplication>
#include <QSystemTrayIcon>

bool isTrayAvailable()
{
    return QApplication::instance() != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
}
