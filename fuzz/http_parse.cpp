// Raw header blocks straight into HTTPRequest::parse, and the same bytes into
// the URL cleaner, the Range reader and the date formatter.
#include <cstdint>
#include <cstring>
#include <string>

#include "ByteRange.h"
#include "FuzzCheck.h"
#include "HTTPRequest.h"
#include "HttpDate.h"
#include "UrlCodec.h"

namespace {

// What every cleaned URL looks like: a leading '/', no backslash and no run
// of separators in the path after its first two characters.
void checkCleanURL(const char* url, const WString& out)
{
    FUZZ_CHECK(out.length() >= 1 && out.getBuf()[0] == '/');
    FUZZ_CHECK(out.length() <= strlen(url) + 1);
    FUZZ_CHECK(strlen(out.getBuf()) == out.length());
    // The path is cleaned; the query after the first '?' is kept as sent.
    const char* query = strchr(out.getBuf(), '?');
    unsigned long pathEnd = query ? (unsigned long)(query - out.getBuf()) : out.length();
    FUZZ_CHECK(memchr(out.getBuf(), '\\', pathEnd) == nullptr);
    for (unsigned long i = 2; i < pathEnd; ++i)
        FUZZ_CHECK(!(out.getBuf()[i] == '/' && out.getBuf()[i - 1] == '/'));
    if (query) FUZZ_CHECK(strcmp(query, strchr(url, '?')) == 0);
}

void checkRange(uint64_t size, const char* value)
{
    ByteRangePlan plan = settleByteRange(size, parseRangeHeader(value));
    if (plan.outcome == ByteRangePlan::Outcome::Part) {
        FUZZ_CHECK(plan.first <= plan.last);
        FUZZ_CHECK(plan.last < size);
        FUZZ_CHECK(plan.count == plan.last - plan.first + 1);
    } else {
        FUZZ_CHECK(plan.count == (plan.outcome == ByteRangePlan::Outcome::Whole ? size : 0));
    }
}

void checkParsedRequest(const HTTPRequest& r)
{
    FUZZ_CHECK(r.methodIndex >= 0 && r.methodIndex <= HTTPRequest::METHOD_OTHER);
    FUZZ_CHECK(r.contentLength >= 0);
    FUZZ_CHECK(r.requestURI.length() >= 1 && r.requestURI.getBuf()[0] == '/');
    // The decoded path: no parent segment, no backslash, no NUL.
    FUZZ_CHECK(!hasParentSegment(r.scriptName));
    FUZZ_CHECK(strchr(r.scriptName.getBuf(), '\\') == nullptr);
    FUZZ_CHECK(strlen(r.scriptName.getBuf()) == r.scriptName.length());
    // What the parser lets through frames its body one way only.
    FUZZ_CHECK(strchr(r.requestURI.getBuf(), '\r') == nullptr);
    FUZZ_CHECK(strchr(r.method.getBuf(), '\r') == nullptr);
    const char* length = r.getHeader("CONTENT-LENGTH");
    FUZZ_CHECK(*length == '\0' || strspn(length, "0123456789") == strlen(length));
    FUZZ_CHECK(*length == '\0' || *r.getHeader("TRANSFER-ENCODING") == '\0');
    FUZZ_CHECK(!(r.framing.chunked && *length != '\0'));
    FUZZ_CHECK(r.framing.unusual == r.framing.tooLarge);
    FUZZ_CHECK(r.framing.tooLarge ? r.contentLength == 0 : r.contentLength == r.framing.contentLength);
    (void)r.getHeader("HOST");
    (void)r.getHeader("RANGE");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The parser takes the bytes, NULs included; the text helpers take them
    // up to the first NUL.
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* s = text.c_str();

    HTTPRequest request(nullptr, nullptr);
    try {
        request.parse(text.data(), (unsigned long)text.size());
        checkParsedRequest(request);
        const char* range = request.getHeader("RANGE");
        if (*range) checkRange(size, range);
    } catch (HTTPHeaderException& e) {
        FUZZ_CHECK(e.getMessage().length() > 0);
        FUZZ_CHECK(request.framing.unusual);
    }

    WString clean;
    cleanRequestURL(s, clean);
    checkCleanURL(s, clean);
    (void)hasParentSegment(s);

    checkRange(size, s);
    checkRange(0, s);
    checkRange(UINT64_MAX, s);

    if (size >= 8) {
        int64_t seconds;
        memcpy(&seconds, data, sizeof seconds);
        WString date;
        formatHttpDate(seconds, date);
        FUZZ_CHECK(date.length() >= 29 && strcmp(date.getBuf() + date.length() - 4, " GMT") == 0);
    }
    return 0;
}
