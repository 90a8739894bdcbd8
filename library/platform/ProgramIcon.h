#pragma once

#include <cstddef>

#include "PlatformTypes.h"

// Program icons by resource id: the windows' icons (WM_SETICON) and the
// tray's. A program registers its pictures at start-up.

// Registers an encoded picture (PNG, or any format the substrate reads) for
// `id`; false when it cannot be read. Several sizes of one id may be given.
bool registerProgramIcon(unsigned int id, const unsigned char* data, size_t size);
// The icon of `id`: a registered picture, or the built-in program picture
// for the main icon id 102; null otherwise.
HICON loadProgramIcon(unsigned int id);
