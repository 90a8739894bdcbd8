#pragma once
// Replacing a file's contents so that a failure leaves the old file whole.

#include <cstddef>
#include <cstdint>

namespace wgfx {

// Writes bytes to a new file in the folder of path (created exclusively,
// under a name nobody else uses) and renames it over path. A symbolic link
// is followed: its target is replaced. An existing file's permissions carry
// over; a new file gets the usual ones. False on any failure, and then
// nothing is left behind and path is as it was.
bool replaceFile(const char* path, const uint8_t* bytes, size_t size);

} // namespace wgfx
