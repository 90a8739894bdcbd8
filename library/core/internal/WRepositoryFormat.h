#pragma once

#include <cstdint>
#include <cstring>

#include "WRepository.h"

// The byte layout of a repository archive (all integers unsigned 32-bit
// little-endian):
//   header, 22 bytes: "REPOS", "09" NUL-padded to 5 bytes, 0, the number of
//                     bytes after the header, the number of entries;
//   directory:        one 269-byte entry per member: absolute data offset,
//                     size, name NUL-padded to 261 bytes;
//   data:             the members' bytes back to back.
namespace WRepositoryFormat {

constexpr unsigned long HEADER_SIZE = 22;
constexpr unsigned long ENTRY_SIZE = 269;
constexpr unsigned long NAME_FIELD = 261;
constexpr unsigned long long MAX_U32 = 0xFFFFFFFFull;

inline void putU32(unsigned char* p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

inline uint32_t getU32(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline void encodeHeader(unsigned char* out, uint32_t byteCount, uint32_t entries)
{
    memset(out, 0, HEADER_SIZE);
    memcpy(out, "REPOS", 5);
    memcpy(out + 5, "09", 2);
    putU32(out + 14, byteCount);
    putU32(out + 18, entries);
}

inline bool hasMagic(const unsigned char* header)
{
    return memcmp(header, "REPOS", 5) == 0;
}

inline uint32_t entryCount(const unsigned char* header)
{
    return getU32(header + 18);
}

inline void encodeEntry(unsigned char* out, uint32_t offset, uint32_t size, const char* name)
{
    memset(out, 0, ENTRY_SIZE);
    putU32(out, offset);
    putU32(out + 4, size);
    memcpy(out + 8, name, strnlen(name, NAME_FIELD - 1));
}

// False when the name field holds no terminating NUL (a damaged entry).
inline bool decodeEntry(const unsigned char* in, WRepositoryEntry& out)
{
    const char* field = (const char*)in + 8;
    unsigned long n = strnlen(field, NAME_FIELD);
    if (n == NAME_FIELD) return false;
    out.offset = getU32(in);
    out.size = getU32(in + 4);
    memset(out.name, 0, sizeof out.name);
    memcpy(out.name, field, n);
    return true;
}

} // namespace WRepositoryFormat
