#include "ScriptVariables.h"

#include "DecimalText.h"
#include "HTTPRequest.h"
#include "ZorvaneVersion.h"

#include <cstring>

namespace {

// Headers that become no HTTP_ variable. Content-Type and Content-Length have
// variables of their own, and the body reaches the script decoded, so its
// Transfer-Encoding is the server's business. A client's "Proxy" header
// would turn into HTTP_PROXY, which HTTP libraries take for the proxy of
// their own outgoing requests.
const char* const NEVER_PASSED[] = {"CONTENT-TYPE", "CONTENT-LENGTH", "TRANSFER-ENCODING", "PROXY"};

// Credentials stay with the server: a CGI program gets no password.
const char* const NOT_FOR_CGI[] = {"AUTHORIZATION", "PROXY-AUTHORIZATION"};

template <size_t N>
bool listed(const char* name, const char* const (&list)[N])
{
    for (const char* entry : list) {
        if (strcmp(name, entry) == 0) return true;
    }
    return false;
}

bool sent(const HTTPRequest& r, const char* header)
{
    return r.headers.containsKey(header);
}

} // namespace

std::string ScriptVariables::headerVariable(const char* headerName)
{
    std::string name = "HTTP_";
    if (*headerName == '\0') return "";
    for (const char* p = headerName; *p != '\0'; p++) {
        char c = *p;
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c == '-') {
            c = '_';
        } else if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return "";
        }
        name += c;
    }
    return name;
}

ScriptVariables::ScriptVariables(const HTTPRequest& r, ScriptKind kind)
{
    names.reserve(40);
    values.reserve(40);
    const bool php = kind == ScriptKind::PHP;
    if (php) add("PHP_SELF", (std::string(r.scriptName.getBuf()) + r.pathInfo.getBuf()).c_str());
    add("GATEWAY_INTERFACE", "CGI/1.1");
    add("SERVER_SOFTWARE", php ? ZORVANE_WITH_PHP : ZORVANE_WITH_PHP " V1.1");
    add("SERVER_NAME", r.serverHost);
    // Programs written for the name this server used to give it.
    if (!php) add("SERVER_HOST", r.serverHost);
    add("SERVER_ADDR", r.serverAddr);
    add("SERVER_PORT", r.serverPort);
    add("SERVER_PROTOCOL", r.protocol);
    if (!php) {
        add("SERVER_SIGNATURE", "");
        add("SERVER_ADMIN", SERVER_ADMIN);
    }
    add("REQUEST_SCHEME", "http");
    add("REQUEST_METHOD", r.method);
    add("REQUEST_URI", r.requestURI);
    add("QUERY_STRING", r.queryString);
    add("DOCUMENT_ROOT", r.documentRoot);
    add("SCRIPT_NAME", r.scriptName);
    add("SCRIPT_FILENAME", r.scriptFilename);
    add("PATH_INFO", r.pathInfo);
    if (r.pathTranslated.length() > 0) add("PATH_TRANSLATED", r.pathTranslated);
    add("REMOTE_ADDR", r.remoteAddr);
    add("REMOTE_PORT", r.remotePort);
    if (!php && r.remoteHost.length() > 0) add("REMOTE_HOST", r.remoteHost);
    if (sent(r, "CONTENT-TYPE")) add("CONTENT_TYPE", r.contentTypeHeader);
    // A chunked body was joined before the script runs: it has a length too.
    if (sent(r, "CONTENT-LENGTH") || sent(r, "TRANSFER-ENCODING")) {
        add("CONTENT_LENGTH", DecimalText(r.contentLength > 0 ? static_cast<unsigned>(r.contentLength) : 0u));
    }
    addHeaders(r, kind);
}

const char* const ScriptVariables::SERVER_ADMIN = "webmaster@localhost";

void ScriptVariables::addHeaders(const HTTPRequest& r, ScriptKind kind)
{
    r.headers.reset();
    while (r.headers.hasMoreElements()) {
        const char* header = r.headers.currentKey();
        if (listed(header, NEVER_PASSED) || (kind == ScriptKind::CGI && listed(header, NOT_FOR_CGI))) continue;
        std::string name = headerVariable(header);
        if (!name.empty()) add(name.c_str(), r.headers.currentValue());
    }
}

void ScriptVariables::add(const char* name, const char* value)
{
    names.emplace_back(name);
    values.emplace_back(value);
}
