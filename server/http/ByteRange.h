#pragma once

#include <cstdint>

// What a Range header asks for. Only the first range of a list is served.
struct ByteRangeSpec {
    enum class Kind {
        None, // no header, or one that is ignored (another unit, bad syntax, last before first)
        Span, // 'first-last' or 'first-'
        Suffix, // '-length': the last length bytes
    };
    Kind kind = Kind::None;
    uint64_t first = 0; // Span: the first byte; Suffix: the length
    uint64_t last = UINT64_MAX; // Span: the last byte, UINT64_MAX when open
};

// Reads 'bytes=first-last', 'bytes=first-' or 'bytes=-length' (the unit in
// any case, blanks around it and around list commas allowed).
ByteRangeSpec parseRangeHeader(const char* value);

// The part of a file to send.
struct ByteRangePlan {
    enum class Outcome {
        Whole, // 200 with the whole file
        Part, // 206 with first..last
        Unsatisfiable, // 416: nothing of the file can be sent
    };
    Outcome outcome;
    uint64_t first; // position of the first byte to send
    uint64_t last; // position of the last byte (Part only)
    uint64_t count; // bytes to send
};

// Settles a requested range against the file size: a span starting at or
// past the end, or a suffix of length 0, is unsatisfiable; a last byte past
// the end is clipped, and a suffix longer than the file takes all of it.
ByteRangePlan settleByteRange(uint64_t size, const ByteRangeSpec& spec);
