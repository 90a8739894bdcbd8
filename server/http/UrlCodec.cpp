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
