#pragma once

// Pieces both engines' statements use for their result columns: the table of
// column buffers, and numbers read back from a column's raw bytes.

#include "WDate.h"
#include "WException.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

// A fresh table of count columns (empty for none); a count too large to
// allocate is refused instead of wrapping around.
template <typename Column>
std::unique_ptr<Column[]> newColumnTable(unsigned long count)
{
    std::unique_ptr<Column[]> fresh;
    if (count > 0) {
        if (count <= SIZE_MAX / sizeof(Column)) fresh.reset(new (std::nothrow) Column[count]);
        if (!fresh) throw WException("Out of memory.", -1);
    }
    return fresh;
}

// What getDate gives for a NULL or a text without a date: one fixed moment
// (1970-01-01 00:00:00 UTC), never the date of an earlier row.
inline void setNullDate(WDate& date)
{
    date.setTime(0);
}

// A number stored as raw bytes in a column buffer; 0 when the buffer is too
// small to hold one.
template <typename Number>
Number numberFromBytes(const void* data, unsigned long size)
{
    Number number = 0;
    if (size >= sizeof number) memcpy(&number, data, sizeof number);
    return number;
}
