#pragma once

#include <vector>

#include "MimeTypeMap.h"
#include "WString.h"

class ZorvaneControl;

// One "key;value" entry of a routing table.
struct RoutingEntry {
    WString key;
    WString value;
};

// An ordered table: a repeated key replaces the earlier value and keeps its
// first place, so walks in file order find the first entry that applies.
class RoutingTable {
public:
    void put(const WString& key, const WString& value);
    const WString* find(const char* key) const;
    const std::vector<RoutingEntry>& entries() const { return items; }
    bool empty() const { return items.empty(); }
    void clear() { items.clear(); }

private:
    std::vector<RoutingEntry> items;
};

// The three tables a worker routes with: virtual directories (cfg/vdir.txt),
// MIME types (cfg/mime.txt) and interpreters (cfg/cgi.txt), read from the cfg
// folder of the current directory once per server start.
class RoutingTables {
public:
    // The command that selects the built-in PHP runtime.
    static const char* const PHP_BUILT_IN;

    RoutingTables() = default;
    RoutingTables(const RoutingTables&) = default;
    RoutingTables& operator=(const RoutingTables&) = default;

    // Reads the three files. Missing vdir and cgi files leave their tables
    // empty; a missing or unreadable mime file leaves every type "text/plain".
    // Problems and skipped lines are reported to control (level -1).
    void load(ZorvaneControl* control, const char* folder = "cfg");

    // Loaders of one file each, used by load.
    void loadVirtualDirectories(const char* path, ZorvaneControl* control);
    void loadInterpreters(const char* path, ZorvaneControl* control);
    void loadMimeTypes(const char* path, ZorvaneControl* control);

    // Line parsers; false when the line was skipped as one that would match
    // every request (the reason goes to why).
    bool addVirtualDirectoryLine(const char* line, WString& why);
    bool addInterpreterLine(const char* line, WString& why);

    RoutingTable virtualDirectories; // alias (lower case, '/' at both ends) -> folder
    MimeTypeMap mimeTypes;
    RoutingTable interpreters; // key -> command
};
