#pragma once

#include <cstdarg>

#define W_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

// The library's 8-bit string: bytes with an explicit length, always followed
// by a NUL. An empty string shares one static empty buffer and owns nothing;
// growth is exact-fit, so callers building long texts reserve first.
class WString {
public:
    WString();
    explicit WString(unsigned long capacity);
    WString(const WString& other);
    WString(const char* text);
    WString(const char* data, unsigned long n);
    WString(const unsigned char* data, unsigned long n);
    virtual ~WString();

    WString& operator=(const WString& other) { return assign(other); }
    WString& operator=(const char* text) { return assign(text); }
    WString& assign(const WString& other);
    WString& assign(const char* text);
    WString& assign(const char* data, unsigned long n);
    WString& assign(const unsigned char* data, unsigned long n);
    WString& assign(const char* text, unsigned long from, unsigned long to);

    WString& append(const char* text);
    WString& append(const WString& other);
    WString& append(const unsigned char* data, unsigned long n);
    WString& append(int c);
    WString& operator+=(const char* text) { return append(text); }
    WString& operator+=(const WString& other) { return append(other); }

    unsigned long length() const { return len; }
    const char* getBuf() const { return buf; }
    char* getBuf() { return buf; }
    operator const char*() const { return buf; }
    unsigned long getBufLength() const { return bufLength; }
    int charAt(unsigned long i) const { return i < len ? (int)(signed char)buf[i] : -1; }
    int operator[](unsigned long i) const { return charAt(i); }
    int operator[](int i) const { return i < 0 ? -1 : charAt((unsigned long)i); }

    int compare(const char* text) const;
    int compare(const WString& other) const { return compare(other.buf); }
    bool equals(const char* text) const;
    bool equals(const WString& other) const;
    bool startsWith(const char* prefix) const { return startsWith(buf, prefix); }
    bool startsWith(int c) const { return (int)(signed char)buf[0] == c; }

    long indexOf(const char* pattern) const { return indexOf(buf, pattern); }
    long lastIndexOf(char c) const { return lastIndexOf(buf, len, c); }
    void substring(unsigned long from, unsigned long to, WString& out) const;
    void substring(unsigned long from, WString& out) const;
    bool split(const char* separator, WString& left, WString& right, bool trim) const;

    WString& clear() { return resize(0); }
    WString& resize(unsigned long n);
    void truncate(unsigned long n);
    WString& fill(unsigned char c);
    WString& replace(char from, char to);
    WString& trim();
    WString& toLowerCase();
    WString& toUpperCase();

protected:
    void initialize(unsigned long capacity);

    static char* assign(char* buf, unsigned long* bufLength, unsigned long* len, const char* data, unsigned long n);
    static char* append(char* buf, unsigned long* bufLength, unsigned long* len, const char* data, unsigned long n);
    static unsigned long trim(char* buf, unsigned long len);
    static long indexOf(const char* buf, const char* pattern);
    static long lastIndexOf(const char* buf, unsigned long len, char c);
    static bool startsWith(const char* buf, const char* prefix);
    static void replace(char* buf, unsigned long len, char from, char to);

    // Formats into the string's own buffer (at most bufLength - 1 characters).
    void formatInto(const char* format, va_list args) W_PRINTF_FORMAT(2, 0);
    bool ownsBuffer() const;

    char* buf;
    unsigned long len;
    unsigned long bufLength;
};

WString operator+(const WString& a, const WString& b);
WString operator+(const WString& a, const char* b);
WString operator+(const char* a, const WString& b);
bool operator==(const WString& a, const char* b);
bool operator==(const char* a, const WString& b);
bool operator==(const WString& a, const WString& b);

// A string filled printf-style into a bounded buffer (1024 characters unless
// the string already has its own buffer).
class WFormattedString : public WString {
public:
    WFormattedString() = default;
    explicit WFormattedString(unsigned long capacity) : WString(capacity) { }
    WFormattedString(const char* format, ...) W_PRINTF_FORMAT(2, 3);
    WFormattedString(const WFormattedString& other) : WString(other) { }
    WFormattedString& operator=(const WFormattedString& other)
    {
        assign(other);
        return *this;
    }
    using WString::operator=;
    ~WFormattedString() override = default;

    WString& format(const char* format, ...) W_PRINTF_FORMAT(2, 3);
    WString& vformat(const char* format, va_list args) W_PRINTF_FORMAT(2, 0);
};

// One number formatted with the caller's format into 128 reserved characters.
class WNumberString : public WFormattedString {
public:
    enum NumberType { TYPE_INT = 1, TYPE_UNSIGNED_LONG = 3 };

    WNumberString(int value, const char* format);
    WNumberString(unsigned long value, const char* format);
    WNumberString(const WNumberString& other) = default;
    WNumberString& operator=(const WNumberString& other);
    ~WNumberString() override = default;

    NumberType getNumberType() const { return numberType; }

private:
    NumberType numberType;
};

// A text loaded from the program's string table (see WResources.h).
class WResourceString : public WString {
public:
    WResourceString() = default;
    explicit WResourceString(unsigned long capacity) : WString(capacity) { }
    WResourceString(const WResourceString& other) : WString(other) { }
    WResourceString& operator=(const WResourceString& other)
    {
        assign(other);
        return *this;
    }
    ~WResourceString() override = default;

    WString& loadResource(unsigned long id);
    WString& operator=(unsigned long id) { return loadResource(id); }
};
