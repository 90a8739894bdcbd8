#include "HTTPResponse.h"

#include "ClientConnection.h"
#include "DecimalText.h"
#include "HtmlEscape.h"
#include "WException.h"
#include "WSocket.h"
#include "ZorvaneControl.h"

#include <cstring>
#include "ZorvaneVersion.h"

namespace {

// Room for the header lines of a common answer, made once.
const size_t HEADERS_RESERVED = 8;

// Every line of a header block ends in CR LF (RFC 9112 2.2).
const char LINE_END[] = "\r\n";
const char SERVER_LINE[] = "Server: " ZORVANE_WITH_PHP " V1.1\r\n";
const char CONNECTION_CLOSE_LINE[] = "Connection: close\r\n";

const char PAGE_HEAD[] = "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>%u %s</title>\n"
                         "</head><body>\n<h1>%s</h1>\n<p>";
const char PAGE_TAIL[] = "</p>\n</body></html>\n";
const unsigned long PAGE_LIMIT = 1024;

// The level-3 log shows a header block with bare line feeds, as it shows
// the request's block.
void logHeaderBlock(ZorvaneControl* control, const WString& block)
{
    if (!control || !control->isLogShown(3)) return;
    WString text(block.length() + 1);
    for (const char* p = block.getBuf(); *p; ++p)
        if (!(p[0] == '\r' && p[1] == '\n')) text.append((int)(unsigned char)*p);
    control->log(text, 3);
}

} // namespace

HTTPResponse::HTTPResponse(ZorvaneControl* owner, ClientConnection* client)
    : connection(client), status(HTTP_STATUS_OK), autoHeaders(false), rawCGIOutput(false),
      headersSent(false), cut(false), control(owner)
{
    headers.reserve(HEADERS_RESERVED);
}

HTTPResponse::~HTTPResponse() = default;

void HTTPResponse::setStatus(const HTTPStatus& newStatus)
{
    status = newStatus;
}

void HTTPResponse::setStatus(unsigned code)
{
    lookupHTTPStatus(code, status);
}

void HTTPResponse::setStatus(unsigned code, const std::string& reason)
{
    lookupHTTPStatus(code, status);
    if (!reason.empty()) {
        ownReason = reason;
        status.reason = ownReason.c_str();
    }
}

void HTTPResponse::addHeader(const char* line)
{
    headers.emplace_back(line);
}

void HTTPResponse::addHeader(const char* name, const char* value)
{
    unsigned long n = (unsigned long)(strlen(name) + strlen(value) + 2);
    // Built in its place in the list: no copy of the line.
    headers.emplace_back(n);
    WString& line = headers.back();
    line.append(name);
    line.append(": ");
    line.append(value);
}

void HTTPResponse::clearHeaders()
{
    headers.clear();
}

void HTTPResponse::setAutoHeaders(bool on)
{
    autoHeaders = on;
}

void HTTPResponse::setRawCGIOutput(bool on)
{
    rawCGIOutput = on;
}

void HTTPResponse::buildHeaderBlock(WString& out, bool connectionClose) const
{
    unsigned long need = 64 + sizeof SERVER_LINE + sizeof CONNECTION_CLOSE_LINE;
    for (const WString& line : headers)
        need += line.length() + 2;
    out.resize(need > 1024 ? need : 1024);
    out.truncate(0);
    out.append("HTTP/1.1 ");
    out.append(DecimalText(status.code));
    out.append(' ');
    out.append(status.reason);
    out.append(LINE_END);
    out.append(SERVER_LINE);
    for (const WString& line : headers) {
        out.append(line);
        out.append(LINE_END);
    }
    if (connectionClose) out.append(CONNECTION_CLOSE_LINE);
}

// Logs the block, ends it unless raw CGI output continues it, and sends it
// together with the first body bytes (the bytes on the wire are the same as
// with two sends, but one send saves a round of small packets).
void HTTPResponse::sendBlock(WString& block, const void* body, unsigned long bodyLength)
{
    logHeaderBlock(control, block);
    if (!rawCGIOutput) block.append(LINE_END);
    connection->write(block.getBuf(), block.length(), body, bodyLength);
    headersSent = true;
}

void HTTPResponse::sendHeaders(bool connectionClose)
{
    WString block;
    buildHeaderBlock(block, connectionClose);
    sendBlock(block, nullptr, 0);
}

void HTTPResponse::write(const void* data, unsigned long length)
{
    if ((autoHeaders || rawCGIOutput) && !headersSent) {
        WString block;
        buildHeaderBlock(block, true);
        sendBlock(block, data, length);
        return;
    }
    if (length > 0) connection->write(data, length);
}

int HTTPResponse::read(void* buffer, unsigned long length)
{
    return connection->read(buffer, length, false);
}

void HTTPResponse::cutOff()
{
    cut = true;
}

void HTTPResponse::sendError(const HTTPStatus& errorStatus, const char* message, bool quiet)
{
    // The client has a status line already: a second one would land inside
    // the body. The connection ends instead, so that the client sees the
    // answer is incomplete.
    if (headersSent) {
        cutOff();
        return;
    }
    clearHeaders();
    addHeader("Content-Type", "text/html");
    setStatus(errorStatus);

    // The page, cut at 1024 characters; the message is escaped so that it
    // cannot become markup.
    WString page(PAGE_LIMIT + 64);
    page.append(WFormattedString(PAGE_HEAD, (unsigned)errorStatus.code, errorStatus.reason, errorStatus.reason));
    appendHtmlEscaped(page, message);
    page.append(PAGE_TAIL);
    if (page.length() > PAGE_LIMIT) page.truncate(PAGE_LIMIT);

    WString block;
    buildHeaderBlock(block, true);
    logHeaderBlock(control, block);
    block.append(LINE_END);
    block.append(page);
    try {
        connection->write(block);
    } catch (WSocketException&) {
        // A failure of the block itself always reaches the caller; a quiet
        // page may be lost without notice. One send cannot tell them apart,
        // so a quiet error page counts the failure as the page's.
        if (!quiet) throw;
    }
    headersSent = true;
}

void HTTPResponse::redirect(const char* location)
{
    clearHeaders();
    addHeader("Location", location);
    setStatus(HTTP_STATUS_MOVED_PERMANENTLY);
    sendHeaders(true);
}

