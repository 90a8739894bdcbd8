#pragma once

#include <cstdint>

// What a header block says about the body that follows it (and whether any
// request may follow that), read before the request is parsed: enough to
// decide whether to wait for the body before a worker takes the request. The
// parser remains the judge of validity.
struct BodyFraming {
    int64_t contentLength = 0; // the last Content-Length, when it is all digits
    bool chunked = false; // a Transfer-Encoding header is present
    bool expectContinue = false; // "Expect: 100-continue"
    bool unusual = false; // a length that is not plain digits, or too large
    bool tooLarge = false; // plain digits, but more than any body may be (unusual too)
    bool clientCloses = false; // "Connection: close": no request follows this one
};

// Scans a header block as HTTPRequest::read collects it (lines ended by
// "\n", no carriage returns); header names match in any case.
BodyFraming scanBodyFraming(const char* block);
