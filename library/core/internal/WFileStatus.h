#pragma once

#include <cstdint>

// What the file layer needs to know about a file system entry (internal).
struct WFileStatus {
    uint32_t mode; // file type and permission bits
    int64_t size;
    uint64_t created; // seconds since 1970; the modification time where
    uint64_t accessed; // the file system keeps no creation time
    uint64_t modified;

    bool isRegular() const;
    bool isDirectory() const;

    // Fills the record for path relative to dirFd (or the descriptor itself
    // when path is ""); follows symbolic links unless noFollow. Returns false
    // with errno set when the entry cannot be examined.
    static bool query(int dirFd, const char* path, bool noFollow, WFileStatus& out);
    static bool query(int fd, WFileStatus& out) { return query(fd, "", false, out); }
};
