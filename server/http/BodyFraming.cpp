#include "BodyFraming.h"

#include <strings.h>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The value of a header line whose name (before ':', blanks around it
// ignored) is name; null when the line has another name.
const char* valueOf(const char* line, const char* end, const char* name, unsigned long nameLength)
{
    while (line < end && isBlank(*line))
        ++line;
    if ((unsigned long)(end - line) <= nameLength || strncasecmp(line, name, nameLength) != 0) return nullptr;
    const char* p = line + nameLength;
    while (p < end && isBlank(*p))
        ++p;
    if (p == end || *p != ':') return nullptr;
    ++p;
    while (p < end && isBlank(*p))
        ++p;
    return p;
}

const char* trimEnd(const char* from, const char* end)
{
    while (end > from && isBlank(end[-1]))
        --end;
    return end;
}

// True when a comma-separated list of tokens holds token, in any case.
bool listHolds(const char* v, const char* end, const char* token, unsigned long tokenLength)
{
    while (v < end) {
        const char* comma = v;
        while (comma < end && *comma != ',')
            ++comma;
        const char* from = v;
        while (from < comma && isBlank(*from))
            ++from;
        const char* to = trimEnd(from, comma);
        if ((unsigned long)(to - from) == tokenLength && strncasecmp(from, token, tokenLength) == 0) return true;
        v = comma < end ? comma + 1 : end;
    }
    return false;
}

} // namespace

BodyFraming scanBodyFraming(const char* block)
{
    BodyFraming framing;
    const char* p = block;
    bool first = true;
    bool lengthSeen = false;
    while (*p) {
        const char* end = p;
        while (*end && *end != '\n')
            ++end;
        if (!first) {
            const char* v;
            if ((v = valueOf(p, end, "content-length", 14)) != nullptr) {
                const char* e = trimEnd(v, end);
                int64_t n = 0;
                bool digits = v < e;
                for (const char* d = v; d < e; ++d) {
                    if (*d < '0' || *d > '9') {
                        digits = false;
                        break;
                    }
                    if (n > (INT64_MAX - 9) / 10) {
                        // Digits still, but more than any body may be.
                        framing.tooLarge = true;
                        digits = false;
                        break;
                    }
                    n = n * 10 + (*d - '0');
                }
                // A second length is for the parser to judge.
                if (digits && !lengthSeen)
                    framing.contentLength = n;
                else
                    framing.unusual = true;
                lengthSeen = true;
            } else if ((v = valueOf(p, end, "transfer-encoding", 17)) != nullptr) {
                framing.chunked = true;
            } else if ((v = valueOf(p, end, "expect", 6)) != nullptr) {
                const char* e = trimEnd(v, end);
                framing.expectContinue = e - v == 12 && strncasecmp(v, "100-continue", 12) == 0;
            } else if ((v = valueOf(p, end, "connection", 10)) != nullptr) {
                framing.clientCloses = framing.clientCloses || listHolds(v, end, "close", 5);
            }
        }
        first = false;
        p = *end ? end + 1 : end;
    }
    return framing;
}
