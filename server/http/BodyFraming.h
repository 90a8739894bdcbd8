#pragma once

#include <cstdint>

// What a parsed head says about the body that follows it (and whether any
// request may follow that): enough for the loop to decide whether to wait
// for a body before a worker takes the request. HTTPRequest::parse fills it;
// a head it refuses leaves the body's end unknown.
struct BodyFraming {
    int64_t contentLength = 0; // Content-Length
    bool chunked = false; // "Transfer-Encoding: chunked"
    bool expectContinue = false; // "Expect: 100-continue"
    bool unusual = false; // where the body ends is unknown: a refused head, or tooLarge
    bool tooLarge = false; // a Content-Length of digits, but more than any body may be
    bool clientCloses = false; // "Connection: close": no request follows this one
};
