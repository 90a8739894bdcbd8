#pragma once

#include "WString.h"

// The byte-stream interface of the library's files: plain files (WFile) and
// members of repository archives (WRepositoryFile) are read the same way.
// A read that meets the end of the data throws WEOFException and leaves the
// number of bytes it delivered in getEOFBytes().
class WFileIO {
public:
    // The origin that setPos() measures from.
    enum PosMode : int { POS_BEGIN = 0, POS_CURRENT = 1, POS_END = 2 };

    virtual ~WFileIO() = default;

    virtual void write(const char* text) = 0;
    virtual void write(const WString& text) = 0;
    virtual void write(const void* data, unsigned long length) = 0;
    // The text followed by "\r\n".
    virtual void writeln(const char* text) = 0;
    virtual void writeln(const WString& text) = 0;

    // Fills the string's reserved capacity (getBufLength() - 1 bytes).
    virtual void read(WString& text) = 0;
    // Reads exactly length bytes into buffer and returns it.
    virtual void* read(void* buffer, unsigned long length) = 0;
    // The next line without its line end; false at the end of the data.
    virtual bool readln(WString& line) = 0;
    // The next byte as 0 to 255.
    virtual int readByte() = 0;

    virtual void mark() = 0;
    virtual void reset() = 0;
    virtual void setPosMode(PosMode mode) = 0;
    virtual void setPos(int position) = 0;
    virtual void skip(int distance) = 0;
    virtual unsigned long getPos() const = 0;
    virtual unsigned long getSize() const = 0;
    virtual unsigned long getEOFBytes() const = 0;
    virtual const WString& getFilename() const = 0;
};
