#include "WWildcard.h"

#include <cstring>

namespace {

// Iterative glob matching with one backtrack point for the last '*'.
bool glob(const char* p, const char* pEnd, const char* n)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*n != '\0') {
        if (p < pEnd && (*p == '?' || *p == *n)) {
            p++;
            n++;
        } else if (p < pEnd && *p == '*') {
            star = ++p;
            resume = n;
        } else if (star != nullptr) {
            p = star;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pEnd && *p == '*')
        p++;
    return p == pEnd;
}

} // namespace

bool WWildcard::hasWildcards(const char* pattern)
{
    return strpbrk(pattern, "*?") != nullptr;
}

bool WWildcard::matches(const char* pattern, const char* name)
{
    size_t length = strlen(pattern);
    if (strcmp(pattern, "*.*") == 0) return true;
    if (glob(pattern, pattern + length, name)) return true;
    // "stem.*" also takes the name without an extension.
    if (length >= 2 && strcmp(pattern + length - 2, ".*") == 0 && strchr(name, '.') == nullptr)
        return glob(pattern, pattern + length - 2, name);
    return false;
}
