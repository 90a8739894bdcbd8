#include "WString.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "WException.h"
#include "WMemory.h"

namespace {
// The one shared empty buffer. Never written but for its NUL, never freed.
char g_emptyBuffer[1] = {0};

// Bytes for a text of a + b characters and its NUL. A sum that does not fit
// is refused before anything changes: wrapped around, it would make the block
// smaller than the text written into it. Nor is the heap asked for more than
// any block can hold (PTRDIFF_MAX).
unsigned long bufferSize(unsigned long a, unsigned long b)
{
    const unsigned long limit = PTRDIFF_MAX;
    if (b >= limit || a >= limit - b)
        throw WMemoryException(
            WFormattedString("Out of memory. Cannot alloc %lu bytes.", b >= ULONG_MAX - a ? ULONG_MAX : a + b + 1), -2);
    return a + b + 1;
}
} // namespace

bool WString::ownsBuffer() const
{
    return buf != g_emptyBuffer;
}

void WString::initialize(unsigned long capacity)
{
    buf = g_emptyBuffer;
    len = 0;
    bufLength = 1;
    resize(capacity);
}

WString::WString() : buf(g_emptyBuffer), len(0), bufLength(1)
{
}

WString::WString(unsigned long capacity) : buf(g_emptyBuffer), len(0), bufLength(1)
{
    resize(capacity);
}

WString::WString(const WString& other) : buf(g_emptyBuffer), len(0), bufLength(1)
{
    buf = assign(buf, &bufLength, &len, other.buf, other.len);
}

WString::WString(const char* text) : buf(g_emptyBuffer), len(0), bufLength(1)
{
    if (text) buf = assign(buf, &bufLength, &len, text, strlen(text));
}

WString::WString(const char* data, unsigned long n) : buf(g_emptyBuffer), len(0), bufLength(1)
{
    buf = assign(buf, &bufLength, &len, data, n);
}

WString::WString(const unsigned char* data, unsigned long n) : buf(g_emptyBuffer), len(0), bufLength(1)
{
    buf = assign(buf, &bufLength, &len, reinterpret_cast<const char*>(data), n);
}

WString::~WString()
{
    if (ownsBuffer()) WMemory::freeMemory(buf);
}

char* WString::assign(char* b, unsigned long* bufLen, unsigned long* l, const char* data, unsigned long n)
{
    unsigned long need = bufferSize(0, n);
    if (need == 1 && b == g_emptyBuffer) {
        *l = 0;
        return b;
    }
    if (*bufLen < need) {
        // Taking the source before the block can move keeps self-assignment of
        // a part of the string itself safe.
        char* grown;
        if (b == g_emptyBuffer) {
            grown = static_cast<char*>(WMemory::allocMemory(need));
            if (n) memmove(grown, data, n);
        } else {
            bool inside = data >= b && data < b + *bufLen;
            unsigned long offset = inside ? (unsigned long)(data - b) : 0;
            grown = static_cast<char*>(WMemory::reallocMemory(b, need));
            if (n) memmove(grown, inside ? grown + offset : data, n);
        }
        b = grown;
        *bufLen = need;
    } else if (n) {
        memmove(b, data, n);
    }
    *l = n;
    b[n] = 0;
    return b;
}

char* WString::append(char* b, unsigned long* bufLen, unsigned long* l, const char* data, unsigned long n)
{
    if (n == 0) return b;
    unsigned long need = bufferSize(*l, n);
    if (*bufLen < need) {
        char* grown;
        if (b == g_emptyBuffer) {
            grown = static_cast<char*>(WMemory::allocMemory(need));
            memmove(grown, data, n);
            grown[0 + n] = 0;
        } else {
            // A string appended to piece by piece grows by half again each
            // time, not by each piece: one copy per piece would make building
            // a long text quadratic.
            unsigned long more = *bufLen + *bufLen / 2;
            if (need < more && more < (unsigned long)PTRDIFF_MAX) need = more;
            bool inside = data >= b && data < b + *bufLen;
            unsigned long offset = inside ? (unsigned long)(data - b) : 0;
            grown = static_cast<char*>(WMemory::reallocMemory(b, need));
            memmove(grown + *l, inside ? grown + offset : data, n);
        }
        b = grown;
        *bufLen = need;
    } else {
        memmove(b + *l, data, n);
    }
    *l += n;
    b[*l] = 0;
    return b;
}

WString& WString::assign(const WString& other)
{
    if (&other != this) buf = assign(buf, &bufLength, &len, other.buf, other.len);
    return *this;
}

WString& WString::assign(const char* text)
{
    buf = assign(buf, &bufLength, &len, text ? text : "", text ? strlen(text) : 0);
    return *this;
}

WString& WString::assign(const char* data, unsigned long n)
{
    buf = assign(buf, &bufLength, &len, data, n);
    return *this;
}

WString& WString::assign(const unsigned char* data, unsigned long n)
{
    return assign(reinterpret_cast<const char*>(data), n);
}

WString& WString::assign(const char* text, unsigned long from, unsigned long to)
{
    return assign(text + from, to > from ? to - from : 0);
}

WString& WString::append(const char* text)
{
    if (text) buf = append(buf, &bufLength, &len, text, strlen(text));
    return *this;
}

WString& WString::append(const WString& other)
{
    buf = append(buf, &bufLength, &len, other.buf, other.len);
    return *this;
}

WString& WString::append(const unsigned char* data, unsigned long n)
{
    buf = append(buf, &bufLength, &len, reinterpret_cast<const char*>(data), n);
    return *this;
}

WString& WString::append(int c)
{
    char byte = (char)c;
    buf = append(buf, &bufLength, &len, &byte, 1);
    return *this;
}

int WString::compare(const char* text) const
{
    int r = strcmp(buf, text ? text : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool WString::equals(const char* text) const
{
    return strcmp(buf, text ? text : "") == 0;
}

bool WString::equals(const WString& other) const
{
    return len == other.len && memcmp(buf, other.buf, len) == 0;
}

bool WString::startsWith(const char* b, const char* prefix)
{
    size_t n = strlen(prefix);
    return strncmp(b, prefix, n) == 0;
}

long WString::indexOf(const char* b, const char* pattern)
{
    const char* p = strstr(b, pattern);
    return p ? (long)(p - b) : -1;
}

long WString::lastIndexOf(const char* b, unsigned long l, char c)
{
    for (unsigned long i = l; i > 0; --i)
        if (b[i - 1] == c) return (long)(i - 1);
    return -1;
}

void WString::substring(unsigned long from, unsigned long to, WString& out) const
{
    if (from >= len || to > len || to < from) {
        out.assign("", 0ul);
        return;
    }
    out.assign(buf + from, to - from);
}

void WString::substring(unsigned long from, WString& out) const
{
    if (from >= len) {
        out.assign("", 0ul);
        return;
    }
    out.assign(buf + from, len - from);
}

bool WString::split(const char* separator, WString& left, WString& right, bool doTrim) const
{
    long at = indexOf(buf, separator);
    if (at < 0) return false;
    if (&left != this && &right != this && &left != &right) {
        // Straight into the parts, reusing their buffers.
        right.assign(buf + at + strlen(separator));
        left.assign(buf, (unsigned long)at);
        if (doTrim) {
            left.trim();
            right.trim();
        }
        return true;
    }
    // Copy first: left or right may be this string itself.
    WString l(buf, (unsigned long)at);
    WString r(buf + at + strlen(separator));
    left = l;
    right = r;
    if (doTrim) {
        left.trim();
        right.trim();
    }
    return true;
}

WString& WString::resize(unsigned long n)
{
    if (n == 0) {
        if (ownsBuffer()) WMemory::freeMemory(buf);
        buf = g_emptyBuffer;
        len = 0;
        bufLength = 1;
        return *this;
    }
    unsigned long size = bufferSize(0, n);
    if (!ownsBuffer()) {
        char* b = static_cast<char*>(WMemory::allocMemory(size));
        b[0] = 0;
        b[n] = 0;
        buf = b;
        len = 0;
        bufLength = size;
        return *this;
    }
    buf = static_cast<char*>(WMemory::reallocMemory(buf, size));
    buf[n] = 0;
    bufLength = size;
    if (n < len) len = n;
    return *this;
}

void WString::truncate(unsigned long n)
{
    if (n >= bufLength) n = bufLength - 1;
    if (!ownsBuffer()) return;
    buf[n] = 0;
    len = n;
}

WString& WString::fill(unsigned char c)
{
    if (len) memset(buf, c, len);
    return *this;
}

void WString::replace(char* b, unsigned long l, char from, char to)
{
    for (unsigned long i = 0; i < l; ++i)
        if (b[i] == from) b[i] = to;
}

WString& WString::replace(char from, char to)
{
    replace(buf, len, from, to);
    return *this;
}

namespace {
bool isTrimmed(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}
} // namespace

unsigned long WString::trim(char* b, unsigned long l)
{
    unsigned long start = 0;
    while (start < l && isTrimmed(b[start]))
        ++start;
    if (start >= l || b[start] == 0) {
        b[0] = 0;
        return 0;
    }
    unsigned long end = l; // one past the last kept character
    while (end > start + 1 && (isTrimmed(b[end - 1]) || b[end - 1] == 0))
        --end;
    unsigned long n = end - start;
    if (start) memmove(b, b + start, n);
    b[n] = 0;
    return n;
}

WString& WString::trim()
{
    if (ownsBuffer()) len = trim(buf, len);
    return *this;
}

WString& WString::toLowerCase()
{
    for (char* p = buf; *p; ++p)
        *p = (char)tolower((unsigned char)*p);
    return *this;
}

WString& WString::toUpperCase()
{
    for (char* p = buf; *p; ++p)
        *p = (char)toupper((unsigned char)*p);
    return *this;
}

void WString::formatInto(const char* format, va_list args)
{
    if (bufLength < 2) resize(1024);
    int r = vsnprintf(buf, bufLength, format, args);
    if (r < 0)
        len = 0;
    else if ((unsigned long)r >= bufLength)
        len = bufLength - 1;
    else
        len = (unsigned long)r;
    buf[len] = 0;
}

WString operator+(const WString& a, const WString& b)
{
    WString r(a.length() + b.length());
    r.append(a).append(b);
    return r;
}

WString operator+(const WString& a, const char* b)
{
    size_t n = b ? strlen(b) : 0;
    WString r(a.length() + n);
    r.append(a).append(b);
    return r;
}

WString operator+(const char* a, const WString& b)
{
    size_t n = a ? strlen(a) : 0;
    WString r(n + b.length());
    r.append(a).append(b);
    return r;
}

bool operator==(const WString& a, const char* b)
{
    return a.equals(b);
}
bool operator==(const char* a, const WString& b)
{
    return b.equals(a);
}
bool operator==(const WString& a, const WString& b)
{
    return a.equals(b);
}
