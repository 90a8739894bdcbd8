#pragma once

#include "WString.h"

// Starting with the desktop session: an XDG autostart entry, which exists
// exactly when the program is to start at log-in.
class Autostart {
public:
    // ${XDG_CONFIG_HOME:-$HOME/.config}/autostart/zorvane-gui.desktop
    static WString entryPath();
    // True when the entry exists and is not marked Hidden=true.
    static bool exists();
    // Writes the entry atomically; false when it cannot be written. `icon`,
    // when given, is the path of the entry's picture.
    static bool set(const char* name, const char* program, const char* argument, const char* icon = nullptr);
    static bool remove();
};
