#pragma once

// The Qt picture behind an icon handle; for the backend only.

#include <QIcon>

#include "../PlatformTypes.h"

namespace wplat::detail {

QIcon qtIcon(HICON icon);

} // namespace wplat::detail
