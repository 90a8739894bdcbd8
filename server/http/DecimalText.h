#pragma once

#include <charconv>

// An unsigned number as decimal text, made without the printf formatter:
// ports and lengths are written for every request.
class DecimalText {
public:
    explicit DecimalText(unsigned long long value)
    {
        auto result = std::to_chars(text, text + sizeof text - 1, value);
        *result.ptr = '\0';
    }
    operator const char*() const { return text; }

private:
    char text[24];
};
