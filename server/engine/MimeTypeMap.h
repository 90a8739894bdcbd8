#pragma once

#include "WHashtable.h"
#include "WString.h"

// MIME types by file extension, read from a text file of lines
// 'type ext ext ...'. Extensions are exact and case-sensitive; an unknown one
// gives the default type "text/plain". One map per worker thread.
class MimeTypeMap {
public:
    MimeTypeMap();
    // Loads fileName; a missing file throws WFileNotFoundException.
    explicit MimeTypeMap(const char* fileName);
    ~MimeTypeMap();

    void load(const char* fileName);
    // Adds the entries of one line (leading blanks skipped, '#' lines ignored).
    void parseLine(const char* line);

    // The type stored for extension, or the default type. Valid while the map is unchanged.
    const char* getMimeType(const char* extension) const;
    void setDefaultType(const char* type);

private:
    WString defaultType;
    mutable WHashtable<WString, WString, const char*, const char*> types;
};
