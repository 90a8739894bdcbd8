#pragma once

#include <cstddef>
#include <cstdint>

// An unlinked file for reading and writing in the temporary folder ($TMPDIR,
// else /tmp): it goes when its descriptor is closed. -1 with errno set when
// none can be made.
int openUnlinkedTemporaryFile();

// Writes all of data at offset (retrying short writes); false with errno set
// when the file cannot take it.
bool writeAllAt(int fd, const char* data, size_t length, uint64_t offset);
