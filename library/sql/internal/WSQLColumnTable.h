#pragma once

// Pieces both engines' statements use for their result columns: the table of
// column buffers, and numbers read back from a column's raw bytes.

#include "WException.h"

#include <cstdint>
#include <cstring>
#include <new>

// A fresh table of count columns (nullptr for none); a count too large to
// allocate is refused instead of wrapping around.
template <typename Column>
Column* newColumnTable(unsigned long count)
{
    Column* fresh = nullptr;
    if (count > 0) {
        if (count <= SIZE_MAX / sizeof(Column))
            fresh = new (std::nothrow) Column[count];
        if (!fresh)
            throw WException("Out of memory.", -1);
    }
    return fresh;
}

// A number stored as raw bytes in a column buffer; 0 when the buffer is too
// small to hold one.
template <typename Number>
Number numberFromBytes(const void* data, unsigned long size)
{
    Number number = 0;
    if (size >= sizeof number)
        memcpy(&number, data, sizeof number);
    return number;
}
