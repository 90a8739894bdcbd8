#pragma once

#include <cstring>

#include "WString.h"

// The line splitting shared by files and archive members. Data is taken in
// blocks of 128 bytes; a line ends at LF, a CR directly before the LF (even
// when the two fall into different blocks) or at the very end of the data is
// dropped, and every other byte, NUL included, stays in the line. Afterwards
// the position stands just after the LF.
namespace WLineReader {

constexpr unsigned long BLOCK = 128;

// readBlock(buffer, BLOCK) returns the bytes delivered, fewer than BLOCK only
// at the end of the data; unread(n) moves the position back by n > 0 bytes.
// Returns false only when the data ended before a byte of a line came.
template <class ReadBlock, class Unread>
bool readLine(WString& line, ReadBlock readBlock, Unread unread)
{
    line.assign("");
    bool pendingCR = false;
    char block[BLOCK];
    for (;;) {
        unsigned long n = readBlock(block, BLOCK);
        if (n == 0) return line.length() > 0;

        const char* lf = (const char*)memchr(block, '\n', n);
        unsigned long stop = lf != nullptr ? (unsigned long)(lf - block) : n;
        // A CR held back from the previous block belongs to the line unless
        // the LF follows it at once.
        if (pendingCR && !(lf != nullptr && stop == 0)) line.append('\r');
        pendingCR = false;

        unsigned long keep = stop;
        if (keep > 0 && block[keep - 1] == '\r') {
            keep--;
            pendingCR = lf == nullptr;
        }
        line.append((const unsigned char*)block, keep);

        if (lf != nullptr) {
            unsigned long rest = n - stop - 1;
            if (rest > 0) unread(rest);
            return true;
        }
        if (n < BLOCK) return true; // end of data: a held-back CR ends the line
    }
}

} // namespace WLineReader
