#pragma once

// What the Qt backend's files share; for backend_qt only.

#include <QMenu>
#include <QWidget>

#include "../PlatformTypes.h"

namespace wplat::detail {

// The widget showing a window, or null (no view, or not yet made).
QWidget* widgetOf(HWND window);
// Fills a Qt menu with our menu's items; actions carry their command ids.
void fillMenu(QMenu& target, HMENU menu, int depth);

} // namespace wplat::detail
