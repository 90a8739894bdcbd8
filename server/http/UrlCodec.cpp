#include "UrlCodec.h"

#include <cstring>

void cleanRequestURL(const char* url, WString& out)
{
    unsigned long n = (unsigned long)strlen(url);
    out.clear();
    out.resize(n + 1 > 4096 ? n + 1 : 4096);
    char* dst = out.getBuf();
    unsigned long len = 0;
    // The leading '/' that is written first counts as the previous separator
    // only for the copy below, which starts fresh: "\\a" becomes "//a".
    if (url[0] != '/') dst[len++] = '/';
    bool previousWasSeparator = false;
    for (const char* p = url; *p; ++p) {
        char c = *p;
        if (c == '?') {
            // The query is the script's data, as sent: "?next=http://host/x"
            // must not lose a slash.
            size_t rest = strlen(p);
            memcpy(dst + len, p, rest);
            len += (unsigned long)rest;
            break;
        }
        if (c == '/' || c == '\\') {
            if (previousWasSeparator) continue;
            previousWasSeparator = true;
            dst[len++] = '/';
        } else {
            previousWasSeparator = false;
            dst[len++] = c;
        }
    }
    out.truncate(len);
}

bool hasParentSegment(const char* path)
{
    const char* segment = path;
    for (const char* p = path;; ++p) {
        if (*p == '/' || *p == '\0') {
            if (p - segment == 2 && segment[0] == '.' && segment[1] == '.') return true;
            if (*p == '\0') return false;
            segment = p + 1;
        }
    }
}

bool hexDigitValue(unsigned char& c)
{
    if (c >= '0' && c <= '9') {
        c = (unsigned char)(c - '0');
        return true;
    }
    unsigned char lower = (unsigned char)(c | 0x20);
    if (lower >= 'a' && lower <= 'f') {
        c = (unsigned char)(lower - 'a' + 10);
        return true;
    }
    return false;
}

UrlPathDecoding decodeUrlPath(const char* path, WString& out)
{
    out.clear();
    out.resize((unsigned long)strlen(path) + 1);
    char* dst = out.getBuf();
    unsigned long len = 0;
    for (const unsigned char* p = (const unsigned char*)path; *p; ++p) {
        if (*p != '%') {
            dst[len++] = (char)*p;
            continue;
        }
        unsigned char high = p[1];
        unsigned char low = high ? p[2] : 0;
        if (!hexDigitValue(high) || !hexDigitValue(low)) return UrlPathDecoding::BadEscape;
        unsigned char c = (unsigned char)(high * 16 + low);
        if (c == '/' || c == '\\' || c == '\0') return UrlPathDecoding::BadPath;
        dst[len++] = (char)c;
        p += 2;
    }
    out.truncate(len);
    return hasParentSegment(out) ? UrlPathDecoding::BadPath : UrlPathDecoding::Decoded;
}

namespace {

const char HEX_DIGITS[] = "0123456789ABCDEF";

// Appends text with every byte for which keep is false written as %XX.
template <typename Keep> void appendEncoded(const char* text, WString& out, Keep keep)
{
    for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
        if (keep(*p)) {
            out.append((int)*p);
        } else {
            out.append('%');
            out.append(HEX_DIGITS[*p >> 4]);
            out.append(HEX_DIGITS[*p & 15]);
        }
    }
}

} // namespace

void encodeUrlPath(const char* path, WString& out)
{
    out.clear();
    appendEncoded(path, out, [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || (c != 0 && strchr("/-._~!$&'()*+,;=:@", c) != nullptr);
    });
}

void encodeUrlQuery(const char* query, WString& out)
{
    out.clear();
    appendEncoded(query, out, [](unsigned char c) { return c > 0x20 && c < 0x7f; });
}
