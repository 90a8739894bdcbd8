#include "internal/CGIHeaderBlock.h"

#include "HttpToken.h"

#include <cstring>
#include <strings.h>

namespace {

const char MALFORMED_LINE[] = "The CGI program sent a malformed header line.";
const char MALFORMED_STATUS[] = "The CGI program sent a malformed Status line.";
const char UNFINISHED[] = "The CGI program's output ended within its header lines.";
const char TOO_LARGE[] = "The CGI program's header lines are too large.";

bool isControl(unsigned char c)
{
    return (c < 0x20 && c != '\t') || c == 0x7f;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool nameIs(const char* line, size_t nameLength, const char* name)
{
    return nameLength == strlen(name) && strncasecmp(line, name, nameLength) == 0;
}

} // namespace

bool parseStatusValue(const char* value, size_t length, unsigned& code, std::string& reason)
{
    const char* v = value;
    size_t n = length;
    while (n > 0 && isBlank(*v)) {
        v++;
        n--;
    }
    while (n > 0 && isBlank(v[n - 1]))
        n--;
    if (n < 3 || v[0] < '2' || v[0] > '5' || v[1] < '0' || v[1] > '9' || v[2] < '0' || v[2] > '9'
        || (n > 3 && v[3] != ' ')) {
        return false;
    }
    for (size_t i = 3; i < n; i++) {
        if (isControl(static_cast<unsigned char>(v[i]))) return false;
    }
    code = static_cast<unsigned>((v[0] - '0') * 100 + (v[1] - '0') * 10 + (v[2] - '0'));
    size_t r = 3;
    while (r < n && isBlank(v[r]))
        r++;
    reason.assign(v + r, n - r);
    return true;
}

void CGIHeaderBlock::fail(const char* why)
{
    state = State::Malformed;
    problem = why;
    pending.clear();
}

CGIHeaderBlock::State CGIHeaderBlock::feed(const char* data, size_t length)
{
    if (length > 0) received = true;
    if (state == State::Complete) {
        body.append(data, length);
        return state;
    }
    if (state == State::Malformed) return state;

    size_t scanFrom = pending.size();
    pending.append(data, length);
    size_t lineStart = 0;
    for (;;) {
        size_t end = pending.find('\n', scanFrom);
        if (end == std::string::npos) break;
        size_t contentEnd = end > lineStart && pending[end - 1] == '\r' ? end - 1 : end;
        size_t contentLength = contentEnd - lineStart;
        if (contentLength == 0) {
            headerLines.append("\r\n");
            body.assign(pending, end + 1, std::string::npos);
            pending.clear();
            pending.shrink_to_fit();
            if (locationSeen && !statusSeen) statusCode = 302;
            state = State::Complete;
            return state;
        }
        checkLine(pending.data() + lineStart, contentLength);
        if (state == State::Malformed) return state;
        lineStart = end + 1;
        scanFrom = lineStart;
    }
    pending.erase(0, lineStart);
    if (headerLines.size() + pending.size() > MAX_BYTES) fail(TOO_LARGE);
    return state;
}

void CGIHeaderBlock::checkLine(const char* line, size_t length)
{
    size_t colon = 0;
    while (colon < length && isTokenChar(static_cast<unsigned char>(line[colon])))
        colon++;
    // A folded continuation starts with a blank, so it has no name either.
    if (colon == 0 || colon == length || line[colon] != ':') {
        fail(MALFORMED_LINE);
        return;
    }
    for (size_t i = colon + 1; i < length; i++) {
        // A bare CR or any other control byte would let the program end the
        // line early for a client that reads CR as a line end.
        if (isControl(static_cast<unsigned char>(line[i]))) {
            fail(MALFORMED_LINE);
            return;
        }
    }
    size_t valueStart = colon + 1;
    size_t valueEnd = length;
    while (valueStart < valueEnd && isBlank(line[valueStart]))
        valueStart++;
    while (valueEnd > valueStart && isBlank(line[valueEnd - 1]))
        valueEnd--;

    if (nameIs(line, colon, "Status")) {
        // A second Status line is a contradiction.
        if (statusSeen || !parseStatusValue(line + valueStart, valueEnd - valueStart, statusCode, reason)) {
            fail(MALFORMED_STATUS);
            return;
        }
        statusSeen = true;
        return;
    }
    if (nameIs(line, colon, "Location") && valueEnd > valueStart) locationSeen = true;
    // Lines go on with the CR LF the client expects, whatever the program used.
    headerLines.append(line, length);
    headerLines.append("\r\n");
}

CGIHeaderBlock::State CGIHeaderBlock::finish()
{
    if (state == State::Incomplete) fail(UNFINISHED);
    return state;
}

std::string CGIHeaderBlock::takeBody()
{
    std::string out;
    out.swap(body);
    return out;
}
