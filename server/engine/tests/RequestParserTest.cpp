#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "HeaderBlockCollector.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using servertest::QueuedConnection;
using servertest::RecordingControl;

namespace {

// A literal with the NULs inside it.
template <size_t N> std::string bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

std::string parseError(const std::string& block, unsigned* status = nullptr)
{
    HTTPRequest request(nullptr, nullptr);
    try {
        request.parse(block.data(), (unsigned long)block.size());
    } catch (HTTPHeaderException& e) {
        if (status) *status = e.getStatusCode();
        return e.getMessage().getBuf();
    }
    return "";
}

TEST(RequestParserTest, RequestLines)
{
    const struct {
        const char* line;
        const char* method;
        int index;
        const char* protocol;
        float version;
        const char* scriptName;
    } cases[] = {
        {"GET /a HTTP/1.1", "GET", 0, "HTTP/1.1", 1.1f, "/a"},
        {"get /a HTTP/1.1", "GET", 0, "HTTP/1.1", 1.1f, "/a"},
        {"HEAD /x http/1.0", "HEAD", 1, "HTTP/1.0", 1.0f, "/x"},
        {"POST /p HTTP/1.1", "POST", 2, "HTTP/1.1", 1.1f, "/p"},
        {"PUT /p HTTP/1.1", "PUT", 3, "HTTP/1.1", 1.1f, "/p"},
        {"DELETE /p HTTP/1.1", "DELETE", 4, "HTTP/1.1", 1.1f, "/p"},
        // Any other token, as sent: a script decides what it means.
        {"PATCH /p HTTP/1.1", "PATCH", 5, "HTTP/1.1", 1.1f, "/p"},
        {"options * HTTP/1.1", "options", 5, "HTTP/1.1", 1.1f, "/*"},
        {"X-Go! /p HTTP/1.1", "X-Go!", 5, "HTTP/1.1", 1.1f, "/p"},
        {"GET   /t   HTTP/1.1 ", "GET", 0, "HTTP/1.1", 1.1f, "/t"},
        {"GET /v HTTP/0.9", "GET", 0, "HTTP/0.9", 0.9f, "/v"},
        {"GET /v HTTP/1.10", "GET", 0, "HTTP/1.10", 1.1f, "/v"},
        {"GET /v HTTP/001.001", "GET", 0, "HTTP/001.001", 1.001f, "/v"},
    };
    for (const auto& c : cases) {
        HTTPRequest request(nullptr, nullptr);
        request.parse((std::string(c.line) + "\nHost: h").c_str());
        EXPECT_STREQ(c.method, request.method.getBuf()) << c.line;
        EXPECT_EQ(c.index, request.methodIndex) << c.line;
        EXPECT_STREQ(c.protocol, request.protocol.getBuf()) << c.line;
        EXPECT_FLOAT_EQ(c.version, request.httpVersion) << c.line;
        EXPECT_STREQ(c.scriptName, request.scriptName.getBuf()) << c.line;
    }
}

TEST(RequestParserTest, MalformedRequests)
{
    const struct {
        std::string block;
        const char* message;
        unsigned status = 400;
    } cases[] = {
        {"G(T / HTTP/1.1", "Unknown HTTP method 'G(T'"},
        {"get\x01 / HTTP/1.1", "Unknown HTTP method 'GET\x01'"},
        {"GET", "Unknown HTTP method ''"},
        {" GET / HTTP/1.1", "Unknown HTTP method ''"},
        {"GET / HTTP/1.1\nNoColon", "Bad HTTP request. Header delimer ':' not found."},
        {"GET / HTTP/1.1\n continued", "Bad HTTP request. Header delimer ':' not found."},
        // A field name is a token, right up to its colon.
        {"GET / HTTP/1.1\nHost: h\nX A: b", "Invalid header line."},
        {"GET / HTTP/1.1\nHost: h\nX-A : b", "Invalid header line."},
        {"GET / HTTP/1.1\nHost: h\n X-A: b", "Invalid header line."},
        {"GET / HTTP/1.1\nHost: h\n: b", "Invalid header line."},
        {"GET / HTTP/1.1\nHost: h\nX(A): b", "Invalid header line."},
        {"GET / HTTP/1.1\nHost : h", "Invalid header line."},
        // A NUL anywhere.
        {bytes("GET / HTTP/1.1\nHost: h\nX-A: a\0b"), "Invalid header line."},
        {bytes("GET /a\0b HTTP/1.1\nHost: h"), "Invalid request line."},
        {"GET /../etc/passwd HTTP/1.1", "Invalid URL path."},
        {"GET /a/../../x HTTP/1.1", "Invalid URL path."},
        {"GET \\..\\x HTTP/1.1", "Invalid URL path."},
        {"GET /img/..//..\\x HTTP/1.1", "Invalid URL path."},
        {"GET /.. HTTP/1.1", "Invalid URL path."},
        {"POST / HTTP/1.1\nContent-Length: -1", "Invalid Content-Length."},
        // The version: none (a simple request), malformed, or 2 and above.
        {"GET /index.html", "Missing HTTP version."},
        {"GET /index.html  ", "Missing HTTP version."},
        {"GET / FOO/1.1", "Invalid HTTP version 'FOO/1.1'"},
        {"GET / HTTP/1", "Invalid HTTP version 'HTTP/1'"},
        {"GET / HTTP/1.", "Invalid HTTP version 'HTTP/1.'"},
        {"GET / HTTP/.1", "Invalid HTTP version 'HTTP/.1'"},
        {"GET / HTTP/1.1x", "Invalid HTTP version 'HTTP/1.1X'"},
        {"GET / HTTP/1.1.1", "Invalid HTTP version 'HTTP/1.1.1'"},
        {"GET / HTTP/1.1 x", "Invalid HTTP version 'HTTP/1.1 X'"},
        {"GET / HTTP/1.0001", "Invalid HTTP version 'HTTP/1.0001'"},
        {"GET / HTTP/+1.1", "Invalid HTTP version 'HTTP/+1.1'"},
        {"GET / HTTPS/1.1", "Invalid HTTP version 'HTTPS/1.1'"},
        {"GET / HTTP/2.0\nHost: h", "Unsupported HTTP version 'HTTP/2.0'", 505},
        {"GET / HTTP/3.0\nHost: h", "Unsupported HTTP version 'HTTP/3.0'", 505},
        {"GET / HTTP/10.1\nHost: h", "Unsupported HTTP version 'HTTP/10.1'", 505},
        // HTTP/1.1 needs exactly one Host line.
        {"GET / HTTP/1.1", "Missing Host header."},
        {"GET / HTTP/1.1\nHost: a\nHost: a", "Duplicate Host header."},
        {"GET / HTTP/1.1\nhost: a\nHOST: b:80", "Duplicate Host header."},
        {"GET / HTTP/1.0\nHost: a\nHost: b", "Duplicate Host header."},
        // A bare CR inside a header line.
        {"GET / HTTP/1.1\nHost: h\nX: a\rContent-Length: 5", "Invalid header line."},
        {"GET / HTTP/1.1\nHost: h\r\rX: y", "Invalid header line."},
        // Escapes in the path.
        {"GET /%2e%2e/secret HTTP/1.1\nHost: h", "Invalid URL path."},
        {"GET /a%2Fb HTTP/1.1\nHost: h", "Invalid URL path."},
        {"GET /a%5c..%5cb HTTP/1.1\nHost: h", "Invalid URL path."},
        {"GET /a%00.txt HTTP/1.1\nHost: h", "Invalid URL path."},
        {"GET /a%zz HTTP/1.1\nHost: h", "Invalid URL-Encoding format."},
        {"GET /a% HTTP/1.1\nHost: h", "Invalid URL-Encoding format."},
        // Absolute URLs.
        {"GET http://user@h/ HTTP/1.1\nHost: h", "Invalid URL host."},
        {"GET http:///x HTTP/1.1\nHost: h", "Invalid URL host."},
        {"GET http://[]/x HTTP/1.1\nHost: h", "Invalid URL host."},
        {"GET http://h:8o/x HTTP/1.1\nHost: h", "Invalid URL host."},
        {"GET http://h/../x HTTP/1.1\nHost: h", "Invalid URL path."},
    };
    for (const auto& c : cases) {
        unsigned status = 0;
        EXPECT_EQ(c.message, parseError(c.block, &status)) << c.block;
        EXPECT_EQ(c.status, status) << c.block;
    }
    // Dots that are not a parent segment are ordinary names; HTTP/1.0 needs no
    // Host, nor does an absolute target, which names its host itself.
    EXPECT_EQ("", parseError("GET /a..b/...//%2e%2e%2e/x?p=/../ HTTP/1.0"));
    EXPECT_EQ("", parseError("GET http://localhost/index.html HTTP/1.1"));
}

TEST(RequestParserTest, ExceptionTextNamesTheBase)
{
    HTTPHeaderException e("Unknown HTTP method 'PATCH'");
    EXPECT_STREQ("WException: Unknown HTTP method 'PATCH' (id=-1, syserr=00000000h)", e.toString().getBuf());
    HTTPHeaderException copy(e);
    EXPECT_EQ(-1, copy.getId());
    try {
        throw copy;
    } catch (WException& caught) {
        EXPECT_STREQ("Unknown HTTP method 'PATCH'", caught.getMessage().getBuf());
    }
}

TEST(RequestParserTest, HeaderFields)
{
    HTTPRequest request(nullptr, nullptr);
    request.parse("POST /up/load?a=1&b=x%41y HTTP/1.1\n"
                  "Host: example:8080\n"
                  "User-Agent:  curl/8 \n"
                  "Content-Length: 42\n"
                  "Content-Type: multipart/form-data; boundary=XyZ\n"
                  "X-Twice: one\n"
                  "x-twice: two\n"
                  "Cookie: a=b; c=d\n"
                  "Cookie: e=f\n");
    EXPECT_STREQ("example", request.host.getBuf());
    EXPECT_STREQ("example:8080", request.getHeader("HOST"));
    HTTPRequest v6(nullptr, nullptr);
    v6.parse("GET / HTTP/1.1\nHost: [::1]:8080");
    EXPECT_STREQ("[::1]", v6.host.getBuf());
    EXPECT_STREQ("[::1]:8080", v6.getHeader("HOST"));
    EXPECT_STREQ("curl/8", request.userAgent.getBuf());
    EXPECT_EQ(42, request.contentLength);
    EXPECT_STREQ("multipart/form-data", request.contentType.getBuf());
    EXPECT_STREQ("XyZ", request.boundary.getBuf());
    EXPECT_STREQ("multipart/form-data; boundary=XyZ", request.contentTypeHeader.getBuf());
    EXPECT_STREQ("multipart/form-data; boundary=XyZ", request.getHeader("CONTENT-TYPE"));
    EXPECT_STREQ("one, two", request.getHeader("X-TWICE"));
    EXPECT_STREQ("a=b; c=d; e=f", request.getHeader("COOKIE"));
    EXPECT_STREQ("", request.getHeader("RANGE"));
    EXPECT_STREQ("/up/load?a=1&b=x%41y", request.requestURI.getBuf());
    EXPECT_STREQ("/up/load", request.scriptName.getBuf());
    EXPECT_FLOAT_EQ(1.1f, request.httpVersion);
    EXPECT_STREQ("a=1&b=x%41y", request.queryString.getBuf());
}

TEST(RequestParserTest, ContentFieldVariants)
{
    const struct {
        const char* header;
        int length;
        const char* type;
        const char* boundary;
    } cases[] = {
        {"Content-Type: text/plain", 0, "text/plain", ""},
        {"Content-Type: text/html; charset=utf-8", 0, "text/html", ""},
        {"Content-Type: a/b;BOUNDARY = q", 0, "a/b", "q"},
        {"Content-Length: 007", 7, "", ""},
        {"Content-Length:  12 ", 12, "", ""},
        {"Content-Length: 5\nContent-Length: 5", 5, "", ""},
        {"Content-Length: 2147483647", 2147483647, "", ""},
    };
    for (const auto& c : cases) {
        HTTPRequest request(nullptr, nullptr);
        request.parse((std::string("POST / HTTP/1.1\nHost: h\n") + c.header).c_str());
        EXPECT_EQ(c.length, request.contentLength) << c.header;
        EXPECT_STREQ(c.type, request.contentType.getBuf()) << c.header;
        EXPECT_STREQ(c.boundary, request.boundary.getBuf()) << c.header;
    }
}

TEST(RequestParserTest, BodyFramingIsUnambiguous)
{
    const std::string badLength = "Invalid Content-Length.";
    const std::string badCoding = "Unsupported Transfer-Encoding.";
    const std::string both = "Transfer-Encoding together with Content-Length.";
    const struct {
        const char* headers;
        std::string message;
    } cases[] = {
        {"Content-Length: +5", badLength},
        {"Content-Length: -0", badLength},
        {"Content-Length: 5abc", badLength},
        {"Content-Length: abc", badLength},
        {"Content-Length: 0x5", badLength},
        {"Content-Length: 5, 5", badLength},
        {"Content-Length: 5 5", badLength},
        {"Content-Length:", badLength},
        {"Content-Length: 5\nContent-Length: 6", badLength},
        {"Content-Length: 5\nContent-Length: 05", ""},
        {"Transfer-Encoding: chunked", ""},
        {"Transfer-Encoding: Chunked", ""},
        {"Transfer-Encoding: gzip", badCoding},
        {"Transfer-Encoding: gzip, chunked", badCoding},
        {"Transfer-Encoding: chunked\nTransfer-Encoding: chunked", badCoding},
        {"Transfer-Encoding: chunked\nContent-Length: 5", both},
        {"Content-Length: 5\nTransfer-Encoding: chunked", both},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.message, parseError(std::string("POST / HTTP/1.1\nHost: h\n") + c.headers)) << c.headers;
}

TEST(RequestParserTest, WhatTheHeadSaysAboutTheBody)
{
    struct Case {
        const char* headers;
        int64_t length;
        bool chunked;
        bool expectContinue;
        bool tooLarge;
        bool clientCloses;
    };
    const Case cases[] = {
        {"", 0, false, false, false, false},
        {"Content-Length: 12", 12, false, false, false, false},
        {"Content-Length: 2147483647", 2147483647, false, false, false, false},
        // Digits, but beyond any body: the loop answers 413, not 400.
        {"Content-Length: 2147483648", 2147483648, false, false, true, false},
        {"Content-Length: 99999999999999999999", INT64_MAX, false, false, true, false},
        {"Transfer-Encoding: chunked", 0, true, false, false, false},
        {"Expect: 100-Continue\nContent-Length: 3", 3, false, true, false, false},
        {"Expect: 100-continue-ish", 0, false, false, false, false},
        {"X-Content-Length: 9\nX-Connection: close", 0, false, false, false, false},
        {"Connection: Keep-Alive ,CLOSE", 0, false, false, false, true},
        {"Connection: closed, x-close", 0, false, false, false, false},
    };
    for (const Case& c : cases) {
        HTTPRequest request(nullptr, nullptr);
        request.parse((std::string("POST /Content-Length:9 HTTP/1.1\nHost: h\n") + c.headers).c_str());
        EXPECT_EQ(c.length, request.framing.contentLength) << c.headers;
        EXPECT_EQ(c.chunked, request.framing.chunked) << c.headers;
        EXPECT_EQ(c.expectContinue, request.framing.expectContinue) << c.headers;
        EXPECT_EQ(c.tooLarge, request.framing.tooLarge) << c.headers;
        EXPECT_EQ(c.tooLarge, request.framing.unusual) << c.headers;
        EXPECT_EQ(c.clientCloses, request.framing.clientCloses) << c.headers;
    }
    // A refused head leaves the body's end unknown.
    HTTPRequest refused(nullptr, nullptr);
    EXPECT_THROW(refused.parse("POST / HTTP/1.1\nHost: h\nContent-Length: 0\nX: a\rb"), HTTPHeaderException);
    EXPECT_TRUE(refused.framing.unusual);
}

TEST(RequestParserTest, CarriageReturns)
{
    const std::string bad = "Invalid request line.";
    const struct {
        const char* block;
        std::string message;
        const char* scriptName;
    } cases[] = {
        {"GET /a HTTP/1.1\r\nHost: x\r\n\r\n", "", "/a"},
        {"GET /a HTTP/1.0\r", "", "/a"},
        {"GET /a\rb HTTP/1.1\r\n", bad, ""},
        {"GET /a HTTP/1.1\rHost: evil\r\n", bad, ""},
        {"GET\r/a HTTP/1.1\n", bad, ""},
        {"GET /a HTTP/1.1\r\r\n", bad, ""},
        {"GET /h HTTP/1.1\nX-A: a\rb\n", "Invalid header line.", ""},
    };
    for (const auto& c : cases) {
        HTTPRequest request(nullptr, nullptr);
        std::string message;
        try {
            request.parse(c.block);
        } catch (HTTPHeaderException& e) {
            message = e.getMessage().getBuf();
        }
        EXPECT_EQ(c.message, message) << c.block;
        EXPECT_STREQ(c.scriptName, request.scriptName.getBuf()) << c.block;
    }
}

TEST(RequestParserTest, UrlFields)
{
    const struct {
        const char* url;
        const char* uri;
        const char* script; // decoded
        const char* query;
        const char* host = "sent";
        const char* field = "sent:80"; // the Host field keeps the port
    } cases[] = {
        {"/x//y?u=http://h//z", "/x/y?u=http://h//z", "/x/y", "u=http://h//z"},
        {"\\a", "//a", "//a", ""},
        {"/q?", "/q?", "/q", ""},
        {"/p?a?b", "/p?a?b", "/p", "a?b"},
        {"/sp%20ace.jpg?s=caf%c3%a9", "/sp%20ace.jpg?s=caf%c3%a9", "/sp ace.jpg", "s=caf%c3%a9"},
        {"/a%2Bb/x%3f?q=%2B", "/a%2Bb/x%3f?q=%2B", "/a+b/x?", "q=%2B"},
        // The query as sent, whatever its escapes: scripts decode it.
        {"/x.php?c=%zz&d=%4G%", "/x.php?c=%zz&d=%4G%", "/x.php", "c=%zz&d=%4G%"},
        // The absolute form: its host replaces the Host line's.
        {"http://localhost/index.html", "/index.html", "/index.html", "", "localhost", "localhost"},
        {"HTTPS://Example.com:8080/a%20b?x=1", "/a%20b?x=1", "/a b", "x=1", "Example.com", "Example.com:8080"},
        {"http://h", "/", "/", "", "h", "h"},
        {"http://h?q=1", "/?q=1", "/", "q=1", "h", "h"},
        {"http://[::1]:81//x", "/x", "/x", "", "[::1]", "[::1]:81"},
        {"ftp://h/x", "/ftp:/h/x", "/ftp:/h/x", ""},
    };
    for (const auto& c : cases) {
        HTTPRequest request(nullptr, nullptr);
        request.parse((std::string("GET ") + c.url + " HTTP/1.1\nHost: sent:80").c_str());
        EXPECT_STREQ(c.uri, request.requestURI.getBuf()) << c.url;
        EXPECT_STREQ(c.script, request.scriptName.getBuf()) << c.url;
        EXPECT_STREQ(c.query, request.queryString.getBuf()) << c.url;
        EXPECT_STREQ(c.host, request.host.getBuf()) << c.url;
        EXPECT_STREQ(c.field, request.getHeader("HOST")) << c.url;
    }
}

// ---- the loop's path: bytes through the collector into take()

// A header block as the loop collects it from bytes; "" when it was taken,
// else the message of the 400.
std::string takeError(const std::string& input, HTTPRequest& request, bool peerCloses = false)
{
    WString raw;
    HeaderBlockCollector collector(raw);
    try {
        unsigned long taken = collector.feed(input.data(), (unsigned long)input.size());
        EXPECT_EQ(collector.isFinished() ? input.find("\r\n\r\n") + 4 : input.size(), taken) << input;
        if (peerCloses) collector.dropUnfinishedLine();
        request.take(raw, collector.lineCount(), WIPAddress(htonl(INADDR_LOOPBACK), 40000),
            WIPAddress(htonl(INADDR_LOOPBACK), 8080), "/srv/www");
    } catch (HTTPHeaderException& e) {
        return e.getMessage().getBuf();
    }
    return "";
}

TEST(RequestTakeTest, FillsTheRequestFromTheCollectedBlock)
{
    RecordingControl control;
    HTTPRequest request(&control, nullptr);
    EXPECT_EQ("", takeError("GET /a?q=%zz HTTP/1.1\r\nHost: h:81\r\nContent-Length: 4\r\n\r\nBODY", request));
    EXPECT_STREQ("/a", request.scriptName.getBuf());
    EXPECT_STREQ("q=%zz", request.queryString.getBuf());
    EXPECT_STREQ("h", request.host.getBuf());
    EXPECT_EQ(4, request.framing.contentLength);
    EXPECT_STREQ("/srv/www", request.documentRoot.getBuf());
    EXPECT_STREQ("127.0.0.1", request.remoteAddr.getBuf());
    EXPECT_STREQ("40000", request.remotePort.getBuf());
    EXPECT_STREQ("127.0.0.1", request.serverAddr.getBuf());
    EXPECT_STREQ("8080", request.serverPort.getBuf());
    EXPECT_TRUE(control.hasLine(3, "GET /a?q=%zz HTTP/1.1\nHost: h:81\nContent-Length: 4\n"));
}

TEST(RequestTakeTest, NoRequestLineIsNoRequest)
{
    // A silent close, or an empty line first: nothing to answer, nothing logged.
    for (const char* input : {"", "\r\nGET / HTTP/1.1\r\nHost: h\r\n\r\n"}) {
        RecordingControl control;
        HTTPRequest request(&control, nullptr);
        WString raw;
        HeaderBlockCollector collector(raw);
        collector.feed(input, (unsigned long)strlen(input));
        EXPECT_EQ(HTTPRequest::ReadResult::NoRequest,
            request.take(raw, collector.lineCount(), WIPAddress(), WIPAddress(), "/d"));
        EXPECT_TRUE(control.linesAt(3).empty());
    }
}

TEST(RequestTakeTest, CloseMidBlockKeepsWholeLines)
{
    HTTPRequest request(nullptr, nullptr);
    EXPECT_EQ("", takeError("GET /c HTTP/1.1\r\nHost: a\r\nUser-Ag", request, true));
    EXPECT_STREQ("/c", request.scriptName.getBuf());
    EXPECT_STREQ("a", request.host.getBuf());
    EXPECT_STREQ("", request.userAgent.getBuf());
}

TEST(RequestTakeTest, NulAndBareCarriageReturnsAreRefused)
{
    // The collector keeps them; cutting a line at them would hide them.
    const struct {
        std::string input;
        const char* message;
    } cases[] = {
        {bytes("GET /n HTTP/1.1\r\nHost: h\r\nX-B: c\0junk\r\n\r\n"), "Invalid header line."},
        {bytes("GET /n\0 HTTP/1.1\r\nHost: h\r\n\r\n"), "Invalid request line."},
        {"GET /a\rHost: evil HTTP/1.1\r\n\r\n", "Invalid request line."},
        {"GET / HTTP/1.1\r\nHost: h\r\nX: a\rContent-Length: 5\r\n\r\n", "Invalid header line."},
    };
    for (const auto& c : cases) {
        HTTPRequest request(nullptr, nullptr);
        EXPECT_EQ(c.message, takeError(c.input, request)) << c.input;
        EXPECT_TRUE(request.framing.unusual);
    }
}

TEST(RequestTakeTest, VersionAboveOneIsAnswered505)
{
    RecordingControl control;
    QueuedConnection connection;
    {
        HTTPResponse response(&control, &connection.stream);
        HTTPRequest request(&control, &response);
        WString raw("GET / HTTP/2.0\nHost: h\n");
        EXPECT_EQ(HTTPRequest::ReadResult::Answered, request.take(raw, 2, WIPAddress(), WIPAddress(), "/d"));
    }
    std::string out = connection.receive();
    EXPECT_EQ(0u, out.find("HTTP/1.1 505 HTTP Version Not Supported\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("<p>Unsupported HTTP version 'HTTP/2.0'</p>")) << out;
    ASSERT_EQ(1u, control.exceptionMessages().size());
    EXPECT_EQ("Unsupported HTTP version 'HTTP/2.0'", control.exceptionMessages()[0]);
}

TEST(RequestTakeTest, OversizedInputAnswers400)
{
    const std::string tooLarge = "Request header too large.";
    HTTPRequest request(nullptr, nullptr);
    EXPECT_EQ(tooLarge, takeError("GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", request));
    EXPECT_EQ(tooLarge, takeError("GET / HTTP/1.1\r\nX: " + std::string(8200, 'b') + "\r\n\r\n", request));
    // A NUL counts towards the line, as any byte does.
    EXPECT_EQ(tooLarge, takeError("GET / HTTP/1.1\r\nX: a" + std::string(8200, '\0') + "\r\n\r\n", request));
    std::string many = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 100; ++i)
        many += "H" + std::to_string(i) + ": v\r\n";
    EXPECT_EQ(tooLarge, takeError(many + "\r\n", request));
    std::string large = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 9; ++i)
        large += "H" + std::to_string(i) + ": " + std::string(8000, 'c') + "\r\n";
    EXPECT_EQ(tooLarge, takeError(large + "\r\n", request));
    // Just inside every limit.
    std::string inside = "GET / HTTP/1.1\r\nHost: h\r\n";
    for (int i = 0; i < 7; ++i)
        inside += "H" + std::to_string(i) + ": " + std::string(8000, 'd') + "\r\n";
    for (int i = 8; i < 99; ++i)
        inside += "H" + std::to_string(i) + ": v\r\n";
    HTTPRequest fits(nullptr, nullptr);
    EXPECT_EQ("", takeError(inside + "\r\n", fits));
}

} // namespace
