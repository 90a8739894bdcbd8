#pragma once

#include "WHashtable.h"
#include "WString.h"

class WFile;

// Named text values read from and written to a text file of
// "key<separator>value" lines. Lines starting with '#' are comments; lines
// without the separator are ignored. Keys keep the order they were first seen.
class WInitFile {
public:
    typedef WHashtable<WString, WString, const char*, const WString&> Table;

    WInitFile() = default;
    WInitFile(const WInitFile& other) = default;
    WInitFile& operator=(const WInitFile& other) = default;
    virtual ~WInitFile() = default;

    // Reads path into the table; keys of the file overwrite existing ones.
    void open(const char* path, const char* separator);
    // Writes every entry to path, replacing the file in one step: the lines go
    // to a temporary file next to it, which is then renamed over it.
    void save(const char* path, const char* separator);
    void close();

    // The value, or "" (never null) when the key is absent. The text stays
    // valid until the key's value changes.
    const char* getValue(const char* key) const;
    int getIntValue(const char* key) const;
    bool getFlagValue(const char* key) const;

    void putValue(const char* key, const char* value);
    void putValue(const char* key, int value);
    void putValue(const char* key, unsigned long value);
    void putValue(const char* key, bool value);
    void putValue(const char* key, double value, int decimals);

private:
    void read(WFile& file, Table& table, const char* separator);

    Table table;
};
