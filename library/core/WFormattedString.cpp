#include <cstdio>

#include "WString.h"

WFormattedString::WFormattedString(const char* format, ...)
{
    resize(1024);
    va_list args;
    va_start(args, format);
    formatInto(format, args);
    va_end(args);
}

WString& WFormattedString::format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    formatInto(format, args);
    va_end(args);
    return *this;
}

WString& WFormattedString::vformat(const char* format, va_list args)
{
    formatInto(format, args);
    return *this;
}

namespace {
// Formats one value with a caller's format; the caller's format is checked by
// nobody, so this is where the format warning is deliberately silenced.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename T>
void formatNumber(WFormattedString& s, const char* format, T value)
{
    s.format(format, value);
}
#pragma GCC diagnostic pop
} // namespace

WNumberString::WNumberString(int value, const char* format) : WFormattedString(128ul), numberType(TYPE_INT)
{
    formatNumber(*this, format, value);
}

WNumberString::WNumberString(unsigned long value, const char* format)
    : WFormattedString(128ul), numberType(TYPE_UNSIGNED_LONG)
{
    formatNumber(*this, format, value);
}

WNumberString& WNumberString::operator=(const WNumberString& other)
{
    assign(other);
    numberType = other.numberType;
    return *this;
}
