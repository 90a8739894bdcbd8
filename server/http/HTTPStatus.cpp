#include "HTTPStatus.h"

const HTTPStatus HTTP_STATUS_OK = {200, "OK"};
const HTTPStatus HTTP_STATUS_PARTIAL_CONTENT = {206, "Partial Content"};
const HTTPStatus HTTP_STATUS_MOVED_PERMANENTLY = {301, "Moved Permanently"};
const HTTPStatus HTTP_STATUS_NOT_MODIFIED = {304, "Not Modified"};
const HTTPStatus HTTP_STATUS_RANGE_NOT_SATISFIABLE = {416, "Range Not Satisfiable"};
const HTTPStatus HTTP_STATUS_INTERNAL_SERVER_ERROR = {500, "Internal Server Error"};

namespace {

// Every status the system knows, in code order.
const HTTPStatus STATUS_TABLE[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Range Not Satisfiable"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
};

} // namespace

void lookupHTTPStatus(unsigned code, HTTPStatus& out)
{
    for (const HTTPStatus& row : STATUS_TABLE) {
        if (row.code == code) {
            out = row;
            return;
        }
    }
    out.code = code;
    out.reason = "Unknown status";
}

HTTPStatus lookupHTTPStatus(unsigned code)
{
    HTTPStatus status;
    lookupHTTPStatus(code, status);
    return status;
}
