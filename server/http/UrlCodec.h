#pragma once

#include "WString.h"

// Cleans a request URL into out: a '/' is put first when the URL does not
// begin with one; every '/' or '\\' is written as '/' and dropped right after
// another separator, so runs collapse to one '/'. From the first '?' on the
// query is copied as sent; nothing is percent-decoded.
void cleanRequestURL(const char* url, WString& out);

// True when a '/'-separated segment of path is exactly "..".
bool hasParentSegment(const char* path);

// '0'-'9' -> 0-9, 'A'-'F' and 'a'-'f' -> 10-15 in place, true; false for
// anything else (c is left as it was).
bool hexDigitValue(unsigned char& c);

// What decoding a URL path found.
enum class UrlPathDecoding {
    Decoded,
    BadEscape, // a '%' without two hex digits after it
    BadPath, // an escaped '/', '\\' or NUL, or a ".." segment once decoded
};

// Percent-decodes a cleaned URL path (query already split off) into out.
// An escaped separator would name another file than the one the client's
// segments say, and a decoded ".." would climb above the root: both refused.
UrlPathDecoding decodeUrlPath(const char* path, WString& out);

// A decoded path as it may stand in a Location header: every byte other than
// letters, digits, '/' and "-._~!$&'()*+,;=:@" percent-encoded.
void encodeUrlPath(const char* path, WString& out);

// A query as it may stand in a Location header: the text as the client sent
// it, with blanks, control bytes and non-ASCII bytes percent-encoded.
void encodeUrlQuery(const char* query, WString& out);
