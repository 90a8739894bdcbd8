#pragma once

#include "WString.h"

// Collects the header block of a request from the bytes of its connection,
// in whatever pieces they arrive. A carriage return right before a line feed
// is dropped; a bare one, like a NUL, is kept for the parser, which refuses
// both. A line feed ends a line, and the first empty line ends the block, as
// does a request line without an HTTP version (which the parser refuses). The block is kept as the lines, each
// followed by "\n", without the empty line. The limits are HTTPRequest's:
// passing one throws HTTPHeaderException "Request header too large." (400).
class HeaderBlockCollector {
public:
    explicit HeaderBlockCollector(WString& block) : raw(&block) { }

    // Starts a new block in raw.
    void reset(WString& block);

    // Takes bytes in order; returns how many belong to the header block (all
    // of them unless the block ended inside). Throws when a limit is passed.
    unsigned long feed(const char* data, unsigned long n);
    // The same without exceptions: false when a limit is passed.
    bool feed(const char* data, unsigned long n, unsigned long& taken);

    // A line that had not ended when the peer closed is not part of the block.
    void dropUnfinishedLine();

    bool isFinished() const { return finished; }
    unsigned long lineCount() const { return lines; }

private:
    bool append(const char* data, unsigned long n);

    WString* raw;
    unsigned long lineLength = 0;
    unsigned long lines = 0;
    bool crPending = false; // a piece ended in CR: the next byte tells whether it is bare
    bool finished = false;
};
