#include "HTTPRequest.h"

#include "DecimalText.h"
#include "HTTPResponse.h"
#include "HttpToken.h"
#include "UrlCodec.h"
#include "ZorvaneControl.h"

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <strings.h>

namespace {

const char* const METHOD_TABLE[] = {"GET", "HEAD", "POST", "PUT", "DELETE"};

unsigned long initialHeaderTimeLimit()
{
    const char* text = getenv("ZORVANE_HEADER_TIMEOUT_MS");
    if (text && *text) {
        char* end = nullptr;
        unsigned long ms = strtoul(text, &end, 10);
        if (end && *end == '\0' && ms > 0) return ms;
    }
    return 30000;
}

std::atomic<unsigned long> g_headerTimeLimitMs {initialHeaderTimeLimit()};

// The host name of a local address, looked up once per address for the
// whole process: a reverse lookup can take seconds when no name server
// answers, so it is made for scripts only, on a worker.
WString localHostName(const WIPAddress& address)
{
    static std::mutex lock;
    static std::map<unsigned long, WString> names;
    unsigned long ip = address.getIpAddress();
    {
        std::lock_guard<std::mutex> guard(lock);
        auto known = names.find(ip);
        if (known != names.end()) return known->second;
    }
    WString name = address.getHostname();
    std::lock_guard<std::mutex> guard(lock);
    names.emplace(ip, name);
    return name;
}

// True when a comma-separated list holds token, in any case.
bool listHolds(const char* list, const char* token)
{
    const size_t n = strlen(token);
    for (const char* p = list; *p;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        const char* end = p + strcspn(p, ",");
        const char* last = end;
        while (last > p && (last[-1] == ' ' || last[-1] == '\t'))
            --last;
        if ((size_t)(last - p) == n && strncasecmp(p, token, n) == 0) return true;
        p = *end ? end + 1 : end;
    }
    return false;
}

void logLine(ZorvaneControl* control, int level, const char* text)
{
    if (control && control->isLogShown(level)) control->log(text, level);
}

} // namespace

HTTPHeaderException::HTTPHeaderException(const char* reason, unsigned code) : WException(reason, -1), statusCode(code)
{
}

HTTPHeaderException::HTTPHeaderException(const HTTPHeaderException& other)
    : WException(other), statusCode(other.statusCode)
{
}

HTTPRequest::HTTPRequest(ZorvaneControl* owner, HTTPResponse* answer)
    : httpVersion(1.1f), methodIndex(0), contentLength(0), response(answer), control(owner)
{
}

HTTPRequest::~HTTPRequest() = default;

void HTTPRequest::setHeaderTimeLimit(unsigned long milliseconds)
{
    g_headerTimeLimitMs.store(milliseconds ? milliseconds : 1);
}

unsigned long HTTPRequest::getHeaderTimeLimit()
{
    return g_headerTimeLimitMs.load();
}

HTTPRequest::ReadResult HTTPRequest::take(
    const WString& raw, unsigned long lineCount, const WIPAddress& peer, const WIPAddress& local, const char* root)
{
    remoteAddress = peer;
    serverAddress = local;
    remoteAddr = remoteAddress.getIpAddressStr();
    if (lineCount == 0) return ReadResult::NoRequest;

    logLine(control, 3, raw);

    remotePort = DecimalText(remoteAddress.getPort());
    serverAddr = serverAddress.getIpAddressStr();
    serverPort = DecimalText(serverAddress.getPort());
    documentRoot = root;

    try {
        parse(raw.getBuf(), raw.length());
    } catch (HTTPHeaderException& e) {
        if (e.getStatusCode() == 400 || response == nullptr) throw;
        if (control) control->onException(e);
        try {
            response->sendError(lookupHTTPStatus(e.getStatusCode()), e.getMessage(), true);
        } catch (WException&) {
            // the client is gone
        }
        return ReadResult::Answered;
    }
    return ReadResult::Request;
}

void HTTPRequest::lookUpServerHost()
{
    if (serverHost.length() == 0) serverHost = localHostName(serverAddress);
}

void HTTPRequest::parse(const char* rawHeaderBlock, unsigned long length)
{
    framing = BodyFraming();
    try {
        parseLines(rawHeaderBlock, length);
    } catch (HTTPHeaderException&) {
        // Whatever the lines said, a refused head does not tell where its body ends.
        framing.unusual = true;
        throw;
    }
}

void HTTPRequest::parseLines(const char* p, unsigned long length)
{
    bool first = true;
    Seen seen;
    const char* const blockEnd = p + length;
    WString line(1024);
    while (p < blockEnd) {
        const char* end = static_cast<const char*>(memchr(p, '\n', (size_t)(blockEnd - p)));
        unsigned long n = (unsigned long)((end ? end : blockEnd) - p);
        unsigned long next = end ? n + 1 : n;
        // A line may end in CR LF; any other carriage return is a bare one.
        if (n > 0 && p[n - 1] == '\r') --n;
        if (n == 0) break; // the empty line ends the block
        // Some agents end a line at a bare CR, and some text at a NUL; one
        // that does would read a different request out of the same bytes.
        const bool refused = memchr(p, '\r', n) != nullptr || memchr(p, '\0', n) != nullptr;
        line.assign(p, n);
        if (first) {
            if (refused) throw HTTPHeaderException("Invalid request line.");
            parseRequestLine(line);
            first = false;
        } else {
            if (refused) throw HTTPHeaderException("Invalid header line.");
            parseHeaderLine(line, seen);
        }
        p += next;
    }
    if (seen.contentLength && framing.chunked)
        throw HTTPHeaderException("Transfer-Encoding together with Content-Length.");
    setURL(requestLineURL);
    // An absolute target names its host itself.
    if (!first && !seen.host && httpVersion > 1.0f && *getHeader("HOST") == '\0')
        throw HTTPHeaderException("Missing Host header.");
}

void HTTPRequest::parseRequestLine(const WString& line)
{
    WString methodText;
    WString rest;
    line.split(" ", methodText, rest, true);
    // The methods of the table in any case, as their names; any other token as sent.
    WString upper = methodText;
    upper.toUpperCase();
    if (!isToken(methodText.getBuf(), methodText.length()))
        throw HTTPHeaderException(WFormattedString("Unknown HTTP method '%s'", upper.getBuf()));
    int index = METHOD_OTHER;
    for (int i = 0; i < (int)(sizeof METHOD_TABLE / sizeof METHOD_TABLE[0]); ++i) {
        if (upper.equals(METHOD_TABLE[i])) {
            index = i;
            methodText = upper;
            break;
        }
    }

    // A simple request ("GET /", HTTP/0.9) has no version and no header lines.
    if (!hasVersionField(line, line.length())) throw HTTPHeaderException("Missing HTTP version.");
    WString url;
    WString proto;
    rest.split(" ", url, proto, true);
    proto.toUpperCase();
    parseVersion(proto);
    method = methodText;
    methodIndex = index;
    protocol = proto;
    requestLineURL = url;
}

bool HTTPRequest::hasVersionField(const char* line, unsigned long n)
{
    // The fields as parseRequestLine splits them: at the first blank, then
    // the rest, trimmed, at its first blank.
    const char* end = line + n;
    const char* p = static_cast<const char*>(memchr(line, ' ', n));
    if (p == nullptr) return false;
    auto trimmed = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    ++p;
    while (p < end && trimmed(*p))
        ++p;
    while (end > p && trimmed(end[-1]))
        --end;
    return memchr(p, ' ', (size_t)(end - p)) != nullptr;
}

void HTTPRequest::parseVersion(const WString& text)
{
    // "HTTP/" major "." minor, each of one to three digits.
    const char* p = text.getBuf();
    unsigned number[2] = {0, 0};
    unsigned digits[2] = {0, 0};
    bool wellFormed = strncmp(p, "HTTP/", 5) == 0;
    p += wellFormed ? 5 : 0;
    for (int part = 0; part < 2 && wellFormed; ++part) {
        while (*p >= '0' && *p <= '9' && digits[part] < 4) {
            number[part] = number[part] * 10 + (unsigned)(*p++ - '0');
            ++digits[part];
        }
        wellFormed = digits[part] >= 1 && digits[part] <= 3 && *p == (part == 0 ? '.' : '\0');
        ++p;
    }
    if (!wellFormed) throw HTTPHeaderException(WFormattedString("Invalid HTTP version '%s'", text.getBuf()));
    if (number[0] >= 2)
        throw HTTPHeaderException(WFormattedString("Unsupported HTTP version '%s'", text.getBuf()), 505);
    float scale = digits[1] == 1 ? 10.0f : digits[1] == 2 ? 100.0f : 1000.0f;
    httpVersion = (float)number[0] + (float)number[1] / scale;
}

bool HTTPRequest::parseContentLength(const char* text, int64_t& length)
{
    // Digits only: a sign, a blank, a list or a hex prefix would let two
    // readers of the same bytes find different bodies.
    if (*text == '\0') return false;
    int64_t n = 0;
    for (const char* s = text; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        n = n > (INT64_MAX - 9) / 10 ? INT64_MAX : n * 10 + (*s - '0');
    }
    length = n;
    return true;
}

void HTTPRequest::parseHeaderLine(const WString& line, Seen& seen)
{
    WString name;
    WString value;
    const char* nameEnd = strchr(line.getBuf(), ':');
    if (nameEnd == nullptr) throw HTTPHeaderException("Bad HTTP request. Header delimer ':' not found.");
    // A name with a blank or another separator in it (or before the colon)
    // is read as another name, or none, by other agents.
    if (!isToken(line.getBuf(), (size_t)(nameEnd - line.getBuf()))) throw HTTPHeaderException("Invalid header line.");
    line.split(":", name, value, true);
    name.toUpperCase();
    if (name.equals("HOST")) {
        // Two Host lines may name two sites; which one is meant is unknown.
        if (seen.host) throw HTTPHeaderException("Duplicate Host header.");
        seen.host = true;
        // The field keeps the port as sent (scripts build links from it); the
        // host name goes without it, and a bracketed IPv6 address keeps its
        // colons.
        host = value;
        long bracket = value.lastIndexOf(']');
        const char* colon = strchr(value.getBuf() + (bracket >= 0 ? bracket : 0), ':');
        if (colon != nullptr) host.truncate((unsigned long)(colon - value.getBuf()));
    } else if (name.equals("USER-AGENT")) {
        userAgent = value;
    } else if (name.equals("CONTENT-LENGTH")) {
        int64_t n = 0;
        if (!parseContentLength(value, n) || (seen.contentLength && n != framing.contentLength))
            throw HTTPHeaderException("Invalid Content-Length.");
        seen.contentLength = true;
        framing.contentLength = n;
        // Beyond an int is beyond any body: refused by whoever knows the limit.
        framing.tooLarge = n > INT_MAX;
        framing.unusual = framing.tooLarge;
        contentLength = framing.tooLarge ? 0 : (int)n;
    } else if (name.equals("TRANSFER-ENCODING")) {
        // Only a single "chunked" is decoded; any other coding leaves the
        // body's end unknown.
        if (framing.chunked || strcasecmp(value.getBuf(), "chunked") != 0)
            throw HTTPHeaderException("Unsupported Transfer-Encoding.");
        framing.chunked = true;
    } else if (name.equals("EXPECT")) {
        framing.expectContinue = strcasecmp(value.getBuf(), "100-continue") == 0;
    } else if (name.equals("CONNECTION")) {
        framing.clientCloses = framing.clientCloses || listHolds(value.getBuf(), "close");
    } else if (name.equals("CONTENT-TYPE")) {
        contentTypeHeader = value;
        WString type;
        WString parameter;
        if (value.split(";", type, parameter, true)) {
            contentType = type;
            WString key;
            WString keyValue;
            if (parameter.split("=", key, keyValue, true)) {
                key.toUpperCase();
                if (key.equals("BOUNDARY")) boundary = keyValue;
            }
        } else {
            contentType = value;
        }
    }
    // A repeated field keeps all its values, as one line would carry them:
    // cookies joined by "; ", other lists by ", ". The fields of one value
    // keep the last, as their request fields do.
    WString* earlier = headers.find(name);
    if (earlier != nullptr && !name.equals("HOST") && !name.equals("CONTENT-TYPE") && !name.equals("CONTENT-LENGTH")) {
        earlier->append(name.equals("COOKIE") ? "; " : ", ");
        earlier->append(value);
    } else {
        headers.put(name, value);
    }
}

const char* HTTPRequest::takeAbsoluteForm(const char* url)
{
    const char* p;
    if (strncasecmp(url, "http://", 7) == 0)
        p = url + 7;
    else if (strncasecmp(url, "https://", 8) == 0)
        p = url + 8;
    else
        return url;
    // A name, an IPv4 address or a bracketed IPv6 address, then an optional
    // port. User information ("user@host") is not accepted.
    const char* start = p;
    if (*p == '[') {
        while (*++p && (isxdigit((unsigned char)*p) || *p == ':' || *p == '.')) { }
        if (*p != ']' || p == start + 1) throw HTTPHeaderException("Invalid URL host.");
        ++p;
    } else {
        while (isalnum((unsigned char)*p) || *p == '.' || *p == '-' || *p == '_')
            ++p;
    }
    const char* hostEnd = p;
    if (*p == ':') {
        while (isdigit((unsigned char)*++p)) { }
    }
    if (hostEnd == start || (*p != '\0' && *p != '/' && *p != '?'))
        throw HTTPHeaderException("Invalid URL host.");
    host.assign(start, (unsigned long)(hostEnd - start));
    // The field keeps the port, as a Host line would carry it.
    headers.put("HOST", WString(start, (unsigned long)(p - start)));
    return p;
}

void HTTPRequest::setURL(const char* url)
{
    cleanRequestURL(takeAbsoluteForm(url), requestURI);
    WString path;
    long q = requestURI.indexOf("?");
    if (q >= 0) {
        requestURI.substring(0, (unsigned long)q, path);
        // The query goes to scripts as sent: they decode it themselves.
        requestURI.substring((unsigned long)q + 1, queryString);
    } else {
        path = requestURI;
        queryString.clear();
    }
    // Routing sees the path as the client meant it; requestURI keeps the escapes.
    switch (decodeUrlPath(path, scriptName)) {
    case UrlPathDecoding::Decoded:
        break;
    case UrlPathDecoding::BadEscape:
        throw HTTPHeaderException("Invalid URL-Encoding format.");
    case UrlPathDecoding::BadPath:
        // A path that climbs above its root is never looked up.
        throw HTTPHeaderException("Invalid URL path.");
    }
}

const char* HTTPRequest::getHeader(const char* name) const
{
    const WString* value = headers.find(name, nullptr);
    return value ? value->getBuf() : "";
}
