#include "ByteRange.h"

#include <cctype>
#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

const char* skipBlanks(const char* p)
{
    while (isBlank(*p))
        ++p;
    return p;
}

// One run of digits; nullptr when none. A value past 64 bits stays at the
// largest one: no file reaches it.
const char* scanDigits(const char* p, uint64_t& value)
{
    if (!isdigit((unsigned char)*p)) return nullptr;
    uint64_t v = 0;
    for (; isdigit((unsigned char)*p); ++p) {
        unsigned digit = (unsigned)(*p - '0');
        v = v > (UINT64_MAX - digit) / 10 ? UINT64_MAX : v * 10 + digit;
    }
    value = v;
    return p;
}

} // namespace

ByteRangeSpec parseRangeHeader(const char* value)
{
    ByteRangeSpec none;
    const char* eq = strchr(value, '=');
    if (!eq) return none;
    // The unit, trimmed and compared without regard to case.
    const char* u = skipBlanks(value);
    const char* uend = eq;
    while (uend > u && isBlank(uend[-1]))
        --uend;
    if (uend - u != 5 || strncasecmp(u, "bytes", 5) != 0) return none;

    ByteRangeSpec spec;
    const char* p = skipBlanks(eq + 1);
    if (*p == '-') {
        spec.kind = ByteRangeSpec::Kind::Suffix;
        p = scanDigits(p + 1, spec.first);
    } else {
        spec.kind = ByteRangeSpec::Kind::Span;
        p = scanDigits(p, spec.first);
        if (!p || *p != '-') return none;
        ++p;
        if (isdigit((unsigned char)*p)) p = scanDigits(p, spec.last);
        if (spec.last < spec.first) return none;
    }
    if (!p) return none;
    // Whatever follows the first range must start the next one.
    p = skipBlanks(p);
    if (*p != '\0' && *p != ',') return none;
    return spec;
}

ByteRangePlan settleByteRange(uint64_t size, const ByteRangeSpec& spec)
{
    const ByteRangePlan whole = {ByteRangePlan::Outcome::Whole, 0, 0, size};
    const ByteRangePlan unsatisfiable = {ByteRangePlan::Outcome::Unsatisfiable, 0, 0, 0};
    uint64_t first = 0;
    uint64_t last = size - 1;
    switch (spec.kind) {
    case ByteRangeSpec::Kind::None:
        return whole;
    case ByteRangeSpec::Kind::Span:
        if (spec.first >= size) return unsatisfiable;
        first = spec.first;
        if (spec.last < last) last = spec.last;
        break;
    case ByteRangeSpec::Kind::Suffix:
        if (spec.first == 0) return unsatisfiable;
        // An empty file has no last bytes to give: it goes whole.
        if (size == 0) return whole;
        first = spec.first < size ? size - spec.first : 0;
        break;
    }
    return {ByteRangePlan::Outcome::Part, first, last, last - first + 1};
}
