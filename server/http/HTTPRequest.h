#pragma once

#include "BodyFraming.h"
#include "WException.h"
#include "WHashtable.h"
#include "WIPAddress.h"
#include "WString.h"

#include <cstdint>
#include <cstring>

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

// One parsed request: request line, headers, cleaned URL, query and both
// endpoints. Routing fills the file-related fields; the PHP and CGI
// runners read their variables from it. Fields are addressed by name.
class HTTPRequest {
public:
    typedef WHashtable<WString, WString, const char*, const char*> Table;

    // Positions in the method table; any other token is METHOD_OTHER.
    enum Method { METHOD_GET = 0, METHOD_HEAD = 1, METHOD_POST = 2, METHOD_PUT = 3, METHOD_DELETE = 4, METHOD_OTHER = 5 };

    // How taking a header block ended.
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

    // Fills the request from a header block that a HeaderBlockCollector
    // collected (lineCount lines), with the connection's two endpoints: logs
    // the raw block (3), sets the endpoint fields and documentRoot, then
    // parse(). Answers a header exception of a status other than 400 itself
    // (reported to the control, page sent quietly) and returns Answered; one
    // of status 400 is thrown for the caller to answer. Either way framing
    // then says what is known of the body.
    ReadResult take(const WString& block, unsigned long lineCount, const WIPAddress& peer, const WIPAddress& local,
        const char* documentRoot);

    // Parses a raw header block of length bytes: lines ended by '\n' or
    // "\r\n" (a final line may lack it), the request line first. Fills the
    // request-line fields, headers, URL fields and framing. The method may be
    // any token. The URL may be a path or an absolute "http://host/path"
    // (whose host replaces the Host header's); its path is percent-decoded
    // into scriptName, while requestURI and queryString keep the escapes.
    // Throws HTTPHeaderException for a malformed block: among others a bare
    // CR or a NUL, a field name that is not a token, a missing or malformed
    // HTTP version (505 for 2.0 and above), an HTTP/1.1 request without Host
    // or with two, a bad escape or an escaped separator in the path, a
    // Content-Length that is not all digits or differs from an earlier one,
    // a Transfer-Encoding other than one "chunked", or both framing headers.
    // A refused block leaves framing.unusual set.
    void parse(const char* rawHeaderBlock, unsigned long length);
    void parse(const char* rawHeaderBlock) { parse(rawHeaderBlock, (unsigned long)strlen(rawHeaderBlock)); }

    // Fills serverHost with the local address's host name (looked up once
    // per address; it may wait for a name server): for scripts only.
    void lookUpServerHost();

    // True when a request line (n bytes, no line end) has a third field, the
    // HTTP version: "GET /" has none and is refused without waiting for
    // header lines.
    static bool hasVersionField(const char* line, unsigned long n);

    // The value stored under an upper-case header name, or "".
    const char* getHeader(const char* name) const;

    // A Content-Length value: decimal digits only; one beyond 64 bits is
    // taken as INT64_MAX.
    static bool parseContentLength(const char* text, int64_t& length);

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
    int contentLength; // 0 when framing.tooLarge
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
    BodyFraming framing;

private:
    // What the header lines said so far.
    struct Seen {
        bool contentLength = false;
        bool host = false;
    };

    void parseLines(const char* raw, unsigned long length);
    void parseRequestLine(const WString& line);
    void parseVersion(const WString& text);
    void parseHeaderLine(const WString& line, Seen& seen);
    void setURL(const char* url);
    // The path of an absolute "http://host/path" URL (host taken as the
    // request's host); any other URL as it is.
    const char* takeAbsoluteForm(const char* url);

    WString requestLineURL; // the URL as the request line gave it

    HTTPRequest(const HTTPRequest&) = delete;
    HTTPRequest& operator=(const HTTPRequest&) = delete;
};
