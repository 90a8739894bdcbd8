#pragma once

#include <cstdint>

// The first and last byte of a Range header 'bytes=first-last'. Both stay 0
// when the unit is not "bytes" or a number is missing; last 0 means "to the
// end". Numbers are read the way "%u" reads them, so a suffix form like
// 'bytes=-500' gives a huge first byte that no file reaches.
void parseRangeHeader(const char* value, uint64_t& first, uint64_t& last);

// The part of a file to send.
struct ByteRangePlan {
    bool ranged; // a usable range was asked for (206 unless a condition forbids it)
    uint64_t first; // position of the first byte to send
    uint64_t last; // position of the last byte (only meaningful when ranged)
    uint64_t count; // bytes to send
};

// Settles a requested range against the file size: a range starting at or past
// the end, or ending before its start, is ignored (the whole file); a last of 0
// or past the end becomes size - 1.
ByteRangePlan settleByteRange(uint64_t size, uint64_t first, uint64_t last, bool rangeRequested);
