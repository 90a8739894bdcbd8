#pragma once

#include "WException.h"
#include "WHashtable.h"
#include "WIPAddress.h"
#include "WSocket.h"
#include "WString.h"

class HTTPResponse;
class ZorvaneControl;

// A malformed request, answered with its status (400 unless said otherwise)
// and the message. The base is built from (message, -1), so the text form
// names "WException".
class HTTPHeaderException : public WException {
public:
    explicit HTTPHeaderException(const char* message, unsigned statusCode = 400);
    HTTPHeaderException(const HTTPHeaderException& other);

    unsigned getStatusCode() const { return statusCode; }

private:
    unsigned statusCode;
};

// One parsed request: request line, headers, cleaned URL, decoded query and
// both endpoints. Routing fills the file-related fields; the PHP and CGI
// runners read their variables from it. Fields are addressed by name.
class HTTPRequest {
public:
    typedef WHashtable<WString, WString, const char*, const char*> Table;

    // Positions in the method table.
    enum Method { METHOD_GET = 0, METHOD_HEAD = 1, METHOD_POST = 2, METHOD_PUT = 3, METHOD_DELETE = 4 };

    // How reading a connection ended.
    enum class ReadResult {
        Request, // a request line arrived and was parsed: route and answer it
        NoRequest, // closed (or an empty line) before any request line: close quietly,
                   // dispatch nothing, count nothing
        Answered, // refused with an error page other than 400 (505): dispatch nothing
    };

    // Protocol limits. A longer line, a larger block or more lines answer 400.
    static constexpr unsigned long MAX_LINE_LENGTH = 8192;
    static constexpr unsigned long MAX_HEADER_BYTES = 65536;
    static constexpr unsigned long MAX_HEADER_LINES = 100;

    HTTPRequest(ZorvaneControl* control, HTTPResponse* response);
    ~HTTPRequest();

    // Reads the header block of a handed-over connection (which carries the
    // server's 30000 ms receive time-out) and fills the request:
    // logs "Client connected: %s" (2), reads the lines up to the empty line, logs
    // the raw block (3), sets the endpoint fields and documentRoot, then parse().
    // Throws HTTPHeaderException (answer 400), WSocketException id -5 when the
    // block did not arrive within the header time limit (answer 408), or any
    // other WSocketException (close silently).
    ReadResult read(WSocket& client, const char* documentRoot);
    // The same for a header block that the server thread has collected
    // already (lineCount lines), with the connection's two endpoints; the
    // server thread logged "Client connected" when it accepted it.
    // Both answer a header exception of a status other than 400 themselves
    // (reported to the control, page sent quietly) and return Answered; one
    // of status 400 is thrown for the caller to answer.
    ReadResult take(const char* block, unsigned long lineCount, const WIPAddress& peer, const WIPAddress& local,
        const char* documentRoot);

    // Parses a raw header block: lines ended by '\n' or "\r\n" (a final line
    // may lack it), the request line first. Fills the request-line fields,
    // headers, URL fields and parameters. The URL may be a path or an
    // absolute "http://host/path" (whose host replaces the Host header's);
    // its path is percent-decoded into scriptName, while requestURI keeps the
    // escapes. Throws HTTPHeaderException for a malformed block: among others
    // a bare CR, a missing or malformed HTTP version (505 for 2.0 and above),
    // an HTTP/1.1 request without Host or with two, a bad escape or an
    // escaped separator in the path, a Content-Length that is not all digits
    // or differs from an earlier one, a Transfer-Encoding other than one
    // "chunked", or both framing headers.
    void parse(const char* rawHeaderBlock);

    // Fills serverHost with the local address's host name (looked up once
    // per address; it may wait for a name server): for scripts only.
    void lookUpServerHost();

    // True when a request line (n bytes, no line end) has a third field, the
    // HTTP version: "GET /" has none and is refused without waiting for
    // header lines.
    static bool hasVersionField(const char* line, unsigned long n);

    // The value stored under an upper-case header name, or "".
    const char* getHeader(const char* name) const;

    // A Content-Length value: decimal digits only, at most INT_MAX.
    static bool parseContentLength(const char* text, int& length);

    // Decodes a query string into table; false on a malformed escape.
    static bool parseQueryString(const char* query, Table& table);
    // '0'-'9' -> 0-9, 'A'-'F' and 'a'-'f' -> 10-15 in place, true; false for anything else.
    static bool hexDigitValue(unsigned char& c);

    // Time allowed for the whole header block to arrive (default 30000 ms;
    // the environment variable ZORVANE_HEADER_TIMEOUT_MS overrides it at start).
    static void setHeaderTimeLimit(unsigned long milliseconds);
    static unsigned long getHeaderTimeLimit();

    WString protocol;
    float httpVersion;
    WString method;
    int methodIndex;
    mutable Table headers;
    WString requestURI;
    WString queryString;
    WString host;
    WString userAgent;
    int contentLength;
    WString contentType;
    WString boundary;
    WString contentTypeHeader;
    WString scriptName;
    WString scriptFilename;
    WString pathInfo;
    WString pathTranslated;
    WString fileName;
    WString fileExtension;
    WString interpreterKey;
    WString mimeType;
    Table parameters;
    WIPAddress serverAddress;
    WString serverAddr;
    WString serverPort;
    WString serverHost;
    WIPAddress remoteAddress;
    WString remoteAddr;
    WString remotePort;
    WString remoteHost;
    WString documentRoot;
    HTTPResponse* response;
    ZorvaneControl* control;

private:
    // The second half of read and take: logs the block and parses it.
    ReadResult fill(const char* raw, unsigned long lineCount, const char* documentRoot);

    // What the header lines said so far: where the body ends, and the host.
    struct Framing {
        bool contentLengthSeen = false;
        bool transferEncodingSeen = false;
        bool hostSeen = false;
    };

    void parseRequestLine(const WString& line);
    void parseVersion(const WString& text);
    void parseHeaderLine(const WString& line, Framing& framing);
    void setURL(const char* url);
    // The path of an absolute "http://host/path" URL (host taken as the
    // request's host); any other URL as it is.
    const char* takeAbsoluteForm(const char* url);

    WString requestLineURL; // the URL as the request line gave it

    HTTPRequest(const HTTPRequest&) = delete;
    HTTPRequest& operator=(const HTTPRequest&) = delete;
};
