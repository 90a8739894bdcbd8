#include "CGIEnvironment.h"

#include "HTTPRequest.h"
#include "ZorvaneVersion.h"

const char* const CGIEnvironment::SERVER_ADMIN = "webmaster@localhost";

CGIEnvironment::CGIEnvironment(const HTTPRequest& r) : block(1024)
{
    // A negative Content-Length (a malformed header) means no body.
    WFormattedString contentLength("%u", r.contentLength > 0 ? static_cast<unsigned>(r.contentLength) : 0u);
    add("CONTENT_LENGTH", contentLength);
    add("CONTENT_TYPE", r.contentType);
    add("DOCUMENT_ROOT", r.documentRoot);
    add("GATEWAY_INTERFACE", "CGI/1.1");
    add("HTTP_ACCEPT", r.getHeader("ACCEPT"));
    add("HTTP_ACCEPT_CHARSET", r.getHeader("ACCEPT-CHARSET"));
    add("HTTP_ACCEPT_ENCODING", r.getHeader("ACCEPT-ENCODING"));
    add("HTTP_ACCEPT_LANGUAGE", r.getHeader("ACCEPT-LANGUAGE"));
    add("HTTP_CONNECTION", r.getHeader("CONNECTION"));
    add("HTTP_COOKIE", r.getHeader("COOKIE"));
    add("HTTP_HOST", r.host);
    add("HTTP_REFERER", r.getHeader("REFERER"));
    add("HTTP_USER_AGENT", r.userAgent);
    add("PATH_INFO", r.pathInfo);
    add("PATH_TRANSLATED", r.pathTranslated);
    add("QUERY_STRING", r.queryString);
    add("REMOTE_IDENT", "");
    add("REMOTE_ADDR", r.remoteAddr);
    add("REMOTE_PORT", r.remotePort);
    add("REMOTE_HOST", r.remoteHost);
    add("REMOTE_USER", "");
    add("REQUEST_METHOD", r.method);
    add("REQUEST_URI", r.requestURI);
    add("SCRIPT_FILENAME", r.scriptFilename);
    add("SCRIPT_NAME", r.scriptName);
    add("SERVER_ADDR", r.serverAddr);
    add("SERVER_PORT", r.serverPort);
    add("SERVER_HOST", r.serverHost);
    add("SERVER_PROTOCOL", r.protocol);
    add("SERVER_SIGNATURE", "");
    add("SERVER_SOFTWARE", ZORVANE_WITH_PHP " V1.1");
    add("SERVER_ADMIN", SERVER_ADMIN);
    // The block ends with one more NUL after the last entry's.
    block.append(reinterpret_cast<const unsigned char*>(""), 1);
}

CGIEnvironment::~CGIEnvironment()
{
}

void CGIEnvironment::add(const char* name, const char* value)
{
    block.append(name);
    block.append("=");
    block.append(value);
    block.append(reinterpret_cast<const unsigned char*>(""), 1);
}
