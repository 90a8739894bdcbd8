#include "HeaderBlockCollector.h"

#include "HTTPRequest.h"

void HeaderBlockCollector::reset(WString& block)
{
    raw = &block;
    raw->truncate(0);
    lineLength = 0;
    lines = 0;
    crPending = false;
    finished = false;
}

unsigned long HeaderBlockCollector::feed(const char* data, unsigned long n)
{
    unsigned long taken = 0;
    if (!feed(data, n, taken)) throw HTTPHeaderException("Request header too large.");
    return taken;
}

bool HeaderBlockCollector::append(const char* data, unsigned long n)
{
    if (n == 0) return true;
    if (lineLength + n > HTTPRequest::MAX_LINE_LENGTH || raw->length() + n > HTTPRequest::MAX_HEADER_BYTES)
        return false;
    raw->append(reinterpret_cast<const unsigned char*>(data), n);
    lineLength += n;
    return true;
}

bool HeaderBlockCollector::feed(const char* data, unsigned long n, unsigned long& taken)
{
    unsigned long i = 0;
    while (i < n) {
        if (crPending && data[i] != '\n') {
            // A carriage return not followed by a line feed stays in the line.
            crPending = false;
            if (!append("\r", 1)) return false;
        }
        unsigned long j = i;
        while (j < n && data[j] != '\n' && data[j] != '\r')
            ++j;
        if (!append(data + i, j - i)) return false;
        if (j == n) break;
        char c = data[j];
        i = j + 1;
        if (c == '\r') {
            crPending = true;
        } else {
            crPending = false;
            if (lineLength == 0) {
                finished = true;
                taken = i;
                return true;
            }
            if (++lines > HTTPRequest::MAX_HEADER_LINES || raw->length() >= HTTPRequest::MAX_HEADER_BYTES) return false;
            raw->append('\n');
            const unsigned long ended = lineLength;
            lineLength = 0;
            // A request line without a version has no header lines to wait for.
            if (lines == 1 && !HTTPRequest::hasVersionField(raw->getBuf(), ended)) {
                finished = true;
                taken = i;
                return true;
            }
        }
    }
    taken = n;
    return true;
}

void HeaderBlockCollector::dropUnfinishedLine()
{
    if (lineLength) raw->truncate(raw->length() - lineLength);
    lineLength = 0;
    crPending = false;
}
