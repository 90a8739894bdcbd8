#pragma once

#include "WSQL.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <unistd.h>

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zv-sql-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const char* name) const { return (path / name).string(); }

    std::filesystem::path path;
};

// Runs code that must throw WSQLException and hands the exception back.
template <typename F>
WSQLException expectSqlError(F&& code)
{
    try {
        code();
    } catch (const WSQLException& e) {
        return e;
    }
    ADD_FAILURE() << "no WSQLException thrown";
    return WSQLException("(none)", 0);
}

// Both engines' round trip stores 2024-02-29 13:05:09 in a DATE column and a
// TIMESTAMP column: the date comes back at midnight, the time stamp whole.
inline void expectLeapDayColumns(WSQLStatement& select, unsigned long datePosition, unsigned long stampPosition)
{
    const WDate& date = select.getDate(datePosition);
    EXPECT_EQ(date.getYear(), 2024);
    EXPECT_EQ(date.getMonth(), 2);
    EXPECT_EQ(date.getDay(), 29);
    EXPECT_EQ(date.getHour(), 0);
    const WDate& stamp = select.getDate(stampPosition);
    EXPECT_EQ(stamp.getHour(), 13);
    EXPECT_EQ(stamp.getMinute(), 5);
    EXPECT_EQ(stamp.getSecond(), 9); // seconds are kept
}

// A string column size whose buffer would wrap around is refused with
// WMemoryException -2; the column keeps its 255-byte string buffer.
inline void expectColumnSizesRefused(
    WSQLStatement& select, unsigned long position, std::initializer_list<unsigned long> sizes)
{
    for (unsigned long size : sizes) {
        SCOPED_TRACE(size);
        try {
            select.setColumnString(position, size);
            ADD_FAILURE() << "no exception";
        } catch (const WMemoryException& e) {
            EXPECT_EQ(e.getId(), -2);
        }
        WSQLStatement::ColumnInfo info;
        select.getColumnInfo(position, info);
        EXPECT_EQ(info.size, 255ul);
        EXPECT_EQ(info.dataType, WSQLStatement::TYPE_STRING);
    }
}
