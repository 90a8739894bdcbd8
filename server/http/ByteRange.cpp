#include "ByteRange.h"

#include <cctype>
#include <cstring>

namespace {

// Reads one number as scanf's "%llu" does: blanks, an optional sign, digits
// (a minus sign wraps the value). Returns the position after it, or nullptr
// when no digit follows.
const char* scanUnsigned(const char* p, uint64_t& value)
{
    while (isspace((unsigned char)*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!isdigit((unsigned char)*p)) return nullptr;
    uint64_t v = 0;
    bool overflow = false;
    for (; isdigit((unsigned char)*p); ++p) {
        unsigned digit = (unsigned)(*p - '0');
        if (v > (UINT64_MAX - digit) / 10) overflow = true;
        v = v * 10 + digit;
    }
    if (overflow) v = UINT64_MAX;
    value = negative ? (uint64_t)0 - v : v;
    return p;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

void parseRangeHeader(const char* value, uint64_t& first, uint64_t& last)
{
    first = last = 0;
    const char* eq = strchr(value, '=');
    if (!eq) return;
    // The unit, trimmed and compared without regard to case.
    const char* u = value;
    const char* uend = eq;
    while (u < uend && isBlank(*u))
        ++u;
    while (uend > u && isBlank(uend[-1]))
        --uend;
    if (uend - u != 5 || strncasecmp(u, "bytes", 5) != 0) return;
    const char* p = scanUnsigned(eq + 1, first);
    if (!p || *p != '-') return;
    scanUnsigned(p + 1, last);
}

ByteRangePlan settleByteRange(uint64_t size, uint64_t first, uint64_t last, bool rangeRequested)
{
    ByteRangePlan plan = {false, 0, 0, size};
    if (!rangeRequested || first >= size || (last != 0 && last < first)) return plan;
    if (last == 0 || last >= size) last = size - 1;
    plan.ranged = true;
    plan.first = first;
    plan.last = last;
    plan.count = last - first + 1;
    return plan;
}
