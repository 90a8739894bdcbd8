#include "HTTPRequest.h"

#include "ClientConnection.h"
#include "DecimalText.h"
#include "HTTPResponse.h"
#include "HeaderBlockCollector.h"
#include "UrlCodec.h"
#include "ZorvaneControl.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <strings.h>

namespace {

const char* const METHOD_TABLE[] = {"GET", "HEAD", "POST", "PUT", "DELETE"};

// The server thread gives every accepted connection this receive time-out.
const unsigned long CONNECTION_RECV_TIMEOUT_MS = 30000;
// How far a receive may run past the header deadline before the socket's
// time-out is shortened to it (saves a system call per request).
const long long TIMEOUT_SLACK_MS = 250;

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

[[noreturn]] void throwReadTimeout()
{
    errno = ETIMEDOUT;
    throw WSocketException("Read timeout", -5);
}

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

// Reads the header block (each line followed by "\n", no empty line)
// without taking a byte of what follows it: the bytes are looked at first and
// only the block's own bytes are then received. The whole block must arrive
// within the header time limit.
void receiveHeaderBlock(WSocket& client, HeaderBlockCollector& collector)
{
    const long long deadline = ClientConnection::monotonicMs() + (long long)g_headerTimeLimitMs.load();
    char buffer[16384];
    // The connection arrives with the server's receive time-out; it is only
    // shortened when the rest of the deadline falls clearly below it.
    long long applied = (long long)CONNECTION_RECV_TIMEOUT_MS;
    bool timeoutChanged = false;
    try {
        while (!collector.isFinished()) {
            long long remaining = deadline - ClientConnection::monotonicMs();
            if (remaining <= 0) throwReadTimeout();
            if (applied - remaining > TIMEOUT_SLACK_MS) {
                client.setRecvTimeout((unsigned long)remaining);
                applied = remaining;
                timeoutChanged = true;
            }
            int n = client.read(buffer, sizeof buffer, true);
            if (n <= 0) continue; // nothing ready: wait again, bounded by the deadline
            unsigned long take = collector.feed(buffer, (unsigned long)n);
            // Receive exactly the bytes that belong to the block.
            unsigned long done = 0;
            while (done < take) {
                int got = client.read(buffer, take - done, false);
                if (got > 0) done += (unsigned long)got;
            }
        }
    } catch (WSocketException& e) {
        if (e.getId() != -6) throw;
        collector.dropUnfinishedLine(); // the peer closed: what arrived whole counts
        return;
    }
    if (timeoutChanged) client.setRecvTimeout(CONNECTION_RECV_TIMEOUT_MS);
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

HTTPRequest::ReadResult HTTPRequest::read(WSocket& client, const char* root)
{
    client.getPeerName(remoteAddress);
    client.getLocalName(serverAddress);
    remoteAddr = remoteAddress.getIpAddressStr();
    if (control && control->isLogShown(2))
        control->log(WFormattedString("Client connected: %s", remoteAddr.getBuf()), 2);

    WString raw(4096);
    HeaderBlockCollector collector(raw);
    receiveHeaderBlock(client, collector);
    return fill(raw, collector.lineCount(), root);
}

HTTPRequest::ReadResult HTTPRequest::take(
    const char* block, unsigned long lineCount, const WIPAddress& peer, const WIPAddress& local, const char* root)
{
    remoteAddress = peer;
    serverAddress = local;
    remoteAddr = remoteAddress.getIpAddressStr();
    return fill(block, lineCount, root);
}

HTTPRequest::ReadResult HTTPRequest::fill(const char* raw, unsigned long lineCount, const char* root)
{
    if (lineCount == 0) return ReadResult::NoRequest;

    logLine(control, 3, raw);

    remotePort = DecimalText(remoteAddress.getPort());
    serverAddr = serverAddress.getIpAddressStr();
    serverPort = DecimalText(serverAddress.getPort());
    documentRoot = root;

    try {
        parse(raw);
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

void HTTPRequest::parse(const char* rawHeaderBlock)
{
    bool first = true;
    Framing framing;
    const char* p = rawHeaderBlock;
    WString line(1024);
    while (*p) {
        const char* end = strchr(p, '\n');
        unsigned long n = end ? (unsigned long)(end - p) : (unsigned long)strlen(p);
        unsigned long next = end ? n + 1 : n;
        // A line may end in CR LF; any other carriage return is a bare one.
        if (n > 0 && p[n - 1] == '\r') --n;
        if (n == 0) break; // the empty line ends the block
        // Some agents end a line at a bare CR; one that does would read a
        // different request out of the same bytes.
        const bool bareCR = memchr(p, '\r', n) != nullptr;
        line.assign(p, n);
        if (first) {
            if (bareCR) throw HTTPHeaderException("Invalid request line.");
            parseRequestLine(line);
            first = false;
        } else {
            if (bareCR) throw HTTPHeaderException("Invalid header line.");
            parseHeaderLine(line, framing);
        }
        p += next;
    }
    if (framing.contentLengthSeen && framing.transferEncodingSeen)
        throw HTTPHeaderException("Transfer-Encoding together with Content-Length.");
    setURL(requestLineURL);
    // An absolute target names its host itself.
    if (!first && !framing.hostSeen && httpVersion > 1.0f && *getHeader("HOST") == '\0')
        throw HTTPHeaderException("Missing Host header.");
}

void HTTPRequest::parseRequestLine(const WString& line)
{
    WString methodText;
    WString rest;
    line.split(" ", methodText, rest, true);
    methodText.toUpperCase();
    int index = -1;
    for (int i = 0; i < (int)(sizeof METHOD_TABLE / sizeof METHOD_TABLE[0]); ++i) {
        if (methodText.equals(METHOD_TABLE[i])) {
            index = i;
            break;
        }
    }
    if (index < 0) throw HTTPHeaderException(WFormattedString("Unknown HTTP method '%s'", methodText.getBuf()));

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

bool HTTPRequest::parseContentLength(const char* text, int& length)
{
    // Digits only: a sign, a blank, a list or a hex prefix would let two
    // readers of the same bytes find different bodies.
    if (*text == '\0') return false;
    long long n = 0;
    for (const char* s = text; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        n = n * 10 + (*s - '0');
        if (n > INT_MAX) return false;
    }
    length = (int)n;
    return true;
}

void HTTPRequest::parseHeaderLine(const WString& line, Framing& framing)
{
    WString name;
    WString value;
    if (!line.split(":", name, value, true))
        throw HTTPHeaderException("Bad HTTP request. Header delimer ':' not found.");
    name.toUpperCase();
    if (name.equals("HOST")) {
        // Two Host lines may name two sites; which one is meant is unknown.
        if (framing.hostSeen) throw HTTPHeaderException("Duplicate Host header.");
        framing.hostSeen = true;
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
        int n = 0;
        if (!parseContentLength(value, n) || (framing.contentLengthSeen && n != contentLength))
            throw HTTPHeaderException("Invalid Content-Length.");
        framing.contentLengthSeen = true;
        contentLength = n;
    } else if (name.equals("TRANSFER-ENCODING")) {
        // Only a single "chunked" is decoded; any other coding leaves the
        // body's end unknown.
        if (framing.transferEncodingSeen || strcasecmp(value.getBuf(), "chunked") != 0)
            throw HTTPHeaderException("Unsupported Transfer-Encoding.");
        framing.transferEncodingSeen = true;
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
        requestURI.substring((unsigned long)q + 1, queryString);
        if (!parseQueryString(queryString, parameters)) throw HTTPHeaderException("Invalid URL-Encoding format.");
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

bool HTTPRequest::hexDigitValue(unsigned char& c)
{
    return ::hexDigitValue(c);
}

bool HTTPRequest::parseQueryString(const char* query, Table& table)
{
    WString key;
    WString value;
    WString* part = &key;
    for (const unsigned char* p = (const unsigned char*)query; *p; ++p) {
        switch (*p) {
        case '%': {
            if (p[1] == '\0') break; // a '%' at the very end is ignored
            unsigned char high = p[1];
            if (!hexDigitValue(high)) return false;
            if (p[2] == '\0') {
                ++p; // '%' and one digit at the end are ignored
                break;
            }
            unsigned char low = p[2];
            if (!hexDigitValue(low)) return false;
            part->append((int)(high * 16 + low));
            p += 2;
            break;
        }
        case '&':
            if (key.length()) table.put(key, value);
            key.clear();
            value.clear();
            part = &key;
            break;
        case '+':
            part->append(' ');
            break;
        case '=':
            part = &value;
            break;
        default:
            part->append((int)*p);
            break;
        }
    }
    if (key.length()) table.put(key, value);
    return true;
}
