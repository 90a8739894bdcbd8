#pragma once

#include "WFile.h"

// Lists the entries of a directory that match a pattern of '*' and '?'
// ("*.*" matches every name, "." and ".." included). The first matching entry
// is looked up at construction; nextEntry() hands out one entry per call.
class WDirectoryEntries {
public:
    // Searches "<directory>/<pattern>"; an empty pattern searches the
    // directory path itself, which yields the directory's own entry.
    WDirectoryEntries(const char* directory, const char* pattern);
    virtual ~WDirectoryEntries();

    WDirectoryEntries(const WDirectoryEntries&) = delete;
    WDirectoryEntries& operator=(const WDirectoryEntries&) = delete;

    // False when no entry is left; otherwise fills info and moves on.
    bool nextEntry(WFileInfo& info);

private:
    struct Search;

    void findNext();

    Search* findHandle;
    int hasEntry;
    WFileInfo current;
};
