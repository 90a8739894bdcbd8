#pragma once

#include <cstddef>
#include <cstring>

// RFC 9110 token characters: what a method and a field name are made of.
inline bool isTokenChar(unsigned char c)
{
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return c != 0 && strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// A non-empty run of token characters.
inline bool isToken(const char* text, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (!isTokenChar(static_cast<unsigned char>(text[i]))) return false;
    return n > 0;
}
