#pragma once

// File chores of the desktop integration (autostart entry, icon) in the
// user's own folders.

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace userfiles {

// Creates the folder and any missing parents with `mode`; true when it exists.
bool makeDirectories(const std::string& path, mode_t mode);
// Writes all of data, going on after interruptions; false on an error.
bool writeAll(int fd, const void* data, size_t size);

} // namespace userfiles
