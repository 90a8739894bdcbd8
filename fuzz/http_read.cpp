// Raw bytes as a client sends them, taken as the event loop takes them: in
// pieces through the HeaderBlockCollector (carriage returns, NULs, limits, a
// peer that closes early), then HTTPRequest::take, the one parser.
#include <cstdint>
#include <cstring>

#include "FuzzCheck.h"
#include "HTTPRequest.h"
#include "HeaderBlockCollector.h"
#include "UrlCodec.h"
#include "WException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Larger than anything the collector accepts; a longer input adds nothing.
    if (size < 1 || size > 200000) return 0;
    // The first byte sets the size of the pieces the bytes arrive in.
    const size_t piece = (size_t)data[0] + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;

    WString raw(4096);
    HeaderBlockCollector collector(raw);
    HTTPRequest request(nullptr, nullptr);
    try {
        size_t at = 0;
        while (at < length && !collector.isFinished()) {
            size_t n = length - at < piece ? length - at : piece;
            unsigned long taken = collector.feed(bytes + at, (unsigned long)n);
            FUZZ_CHECK(taken <= n);
            FUZZ_CHECK(taken == n || collector.isFinished());
            at += taken;
        }
        // The peer closed: what arrived whole counts.
        if (!collector.isFinished()) collector.dropUnfinishedLine();
        FUZZ_CHECK(raw.length() <= HTTPRequest::MAX_HEADER_BYTES);
        FUZZ_CHECK(collector.lineCount() <= HTTPRequest::MAX_HEADER_LINES);
        WIPAddress loopback(0x0100007fUL, 40000);
        if (request.take(raw, collector.lineCount(), loopback, loopback, "/nonexistent-docs")
            == HTTPRequest::ReadResult::Request) {
            FUZZ_CHECK(request.methodIndex >= 0 && request.methodIndex <= HTTPRequest::METHOD_OTHER);
            FUZZ_CHECK(request.contentLength >= 0);
            FUZZ_CHECK(request.framing.unusual == request.framing.tooLarge);
            FUZZ_CHECK(request.requestURI.getBuf()[0] == '/');
            FUZZ_CHECK(!hasParentSegment(request.scriptName));
            FUZZ_CHECK(request.remoteAddr.equals("127.0.0.1"));
            FUZZ_CHECK(request.documentRoot.equals("/nonexistent-docs"));
            // Nothing of the header block text keeps a CR or a NUL.
            request.headers.reset();
            while (request.headers.hasMoreElements()) {
                FUZZ_CHECK(strchr(request.headers.currentKey(), '\r') == nullptr);
                FUZZ_CHECK(strchr(request.headers.currentValue(), '\r') == nullptr);
            }
        }
    } catch (HTTPHeaderException& e) {
        // answered with 400 (or, without a response to send it on, 505)
        FUZZ_CHECK(e.getMessage().length() > 0);
        FUZZ_CHECK(request.framing.unusual || e.getMessage().equals("Request header too large."));
    }
    return 0;
}
