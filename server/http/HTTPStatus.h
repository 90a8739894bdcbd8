#pragma once

#include <cstdint>

// A status code with its reason text. The text has static lifetime: a row of
// the status table or "Unknown status".
struct HTTPStatus {
    uint32_t code;
    const char* reason;
};

// Records the response writers use directly; their texts equal the table's rows.
extern const HTTPStatus HTTP_STATUS_OK; // 200
extern const HTTPStatus HTTP_STATUS_PARTIAL_CONTENT; // 206
extern const HTTPStatus HTTP_STATUS_MOVED_PERMANENTLY; // 301
extern const HTTPStatus HTTP_STATUS_NOT_MODIFIED; // 304
extern const HTTPStatus HTTP_STATUS_RANGE_NOT_SATISFIABLE; // 416
extern const HTTPStatus HTTP_STATUS_INTERNAL_SERVER_ERROR; // 500

// out becomes the table row of code, or {code, "Unknown status"}.
void lookupHTTPStatus(unsigned code, HTTPStatus& out);

// The same lookup, by value.
HTTPStatus lookupHTTPStatus(unsigned code);
