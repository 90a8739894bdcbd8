#pragma once

#include <cstdint>

#include "WRepository.h"

// The process-wide cache of parsed archive directories, keyed by the archive
// path exactly as given, with a use count per archive. Every change happens
// under the library lock; a published directory is only read.
class WRepositoryCache {
public:
    // Takes the directory of path (use count + 1). When absent, reads the
    // given number of entries from archive (standing just after the header)
    // and publishes the table with use count 1. A damaged directory throws
    // WRepositoryFileException and leaves the cache as it was.
    static const WRepositoryDirectory* acquire(const char* path, WFile& archive, uint32_t entries);
    // Gives the directory back; the last user removes it from the cache.
    static void release(const char* path) noexcept;
    // How many readers hold the archive's directory (0 when not cached).
    static unsigned long useCount(const char* path);
};
