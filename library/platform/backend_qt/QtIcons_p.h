#pragma once

// The Qt picture behind an icon handle; for the backend only.

#include <QIcon>
#include <QWidget>

#include "../PlatformTypes.h"

namespace wplat::detail {

QIcon qtIcon(HICON icon);
// Gives a top-level widget the icon (null: none); shown, the window system
// has it at once.
void setWindowIconOf(QWidget& widget, HICON icon);

} // namespace wplat::detail
