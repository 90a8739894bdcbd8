#pragma once

#include <string>

// The program's icon, a PNG built into the program (resources/zorvane.png).
namespace AppIcon {

const unsigned char* png();
unsigned long size();

// Writes the picture to ${XDG_DATA_HOME:-~/.local/share}/icons/zorvane-gui.png
// for desktop entries to name, replacing it atomically when it differs.
// The file's path, or "" when it cannot be written.
std::string install();

} // namespace AppIcon
