#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

// Small files an event loop sent a moment ago, kept in memory so that the
// next request for one costs a status call instead of an open, two status
// calls, a read and a close. An entry is used only while the file's status
// (device, inode, size, modification and change times to the nanosecond)
// is what it was when the bytes were read, and a file is kept only once it
// has not changed for a while (see SettledChange.h). Each loop has its own;
// nothing is shared.
class SmallFileCache {
public:
    static constexpr uint64_t LARGEST_FILE = 16 * 1024;
    static constexpr size_t BUDGET_BYTES = 1 << 20;
    // How long a file must have been left alone before it is kept.
    static constexpr int64_t SETTLED_NS = 2'000'000'000;

    // What a status call said of a file.
    struct Stamp {
        uint64_t device = 0;
        uint64_t inode = 0;
        uint64_t size = 0;
        int64_t modifiedNs = 0;
        int64_t changedNs = 0;
        int64_t modifiedSeconds = 0; // as the status call gave it, for Last-Modified
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        Stamp stamp;
        std::string bytes;
    };

    // The cache of the calling thread, or null on a thread without one.
    static SmallFileCache* forThisThread();
    // Gives the calling thread a cache, for as long as the thread lives.
    static void enableForThisThread();

    // The entry kept for path, current or not (the caller compares its
    // stamp with the file's), or null.
    const Entry* kept(std::string_view path) const;
    // Keeps bytes (the whole file) when the file is small and settled.
    void keep(std::string_view path, const Stamp& stamp, const char* bytes, size_t length);

private:
    // Looked up by the request's path as it is, without a copy.
    struct PathHash {
        using is_transparent = void;
        size_t operator()(std::string_view path) const { return std::hash<std::string_view> {}(path); }
    };
    std::unordered_map<std::string, Entry, PathHash, std::equal_to<>> entries;
    size_t used = 0;
};
