// The callbacks through which a running script reaches its request: output,
// header lines, the status and header block, the request body, cookies,
// $_SERVER and PHP's own log messages. Each runs on the script's worker
// thread, catches every C++ exception, and calls back into PHP (which may
// longjmp) only outside its catch blocks.
#ifdef ZORVANE_PHP

#include "internal/CGIHeaderBlock.h"
#include "internal/PHPSapi.h"

#include "DecimalText.h"
#include "FrontEnd.h"
#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "HttpDate.h"
#include "ScriptVariables.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <strings.h>

namespace {

HTTPRequest* currentRequest()
{
    PHPRequestContext* context = currentPHPContext();
    return context != nullptr ? context->request : nullptr;
}

void writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        length -= static_cast<size_t>(n);
    }
}

} // namespace

namespace {

bool hold(PHPRequestContext* context, const char* text, size_t length)
{
    if (context->headOnly) {
        context->heldLength += length;
        return true;
    }
    if (context->heldCapacity - context->heldLength < length) {
        size_t capacity = context->heldCapacity > 0 ? context->heldCapacity : 4096;
        while (capacity - context->heldLength < length) {
            if (capacity > SIZE_MAX / 2) return false;
            capacity *= 2;
        }
        char* grown = static_cast<char*>(realloc(context->held, capacity));
        if (grown == nullptr) return false;
        context->held = grown;
        context->heldCapacity = capacity;
    }
    memcpy(context->held + context->heldLength, text, length);
    context->heldLength += length;
    return true;
}

// A header line that frames the body itself.
bool framesBody(const char* line)
{
    return strncasecmp(line, "Content-Length:", 15) == 0 || strncasecmp(line, "Transfer-Encoding:", 18) == 0;
}

bool setsDate(sapi_headers_struct* headers)
{
    zend_llist_position position;
    for (auto* h = static_cast<sapi_header_struct*>(zend_llist_get_first_ex(&headers->headers, &position));
         h != nullptr; h = static_cast<sapi_header_struct*>(zend_llist_get_next_ex(&headers->headers, &position))) {
        if (strncasecmp(h->header, "Date:", 5) == 0) return true;
    }
    return false;
}

// The script's own reason text when its status line ("HTTP/1.1 404 Gone
// Away") has one for the code it ends with; "" for the status table's text.
std::string scriptReason(sapi_headers_struct* headers)
{
    const size_t MOST = 127;
    unsigned code = static_cast<unsigned>(headers->http_response_code);
    const char* line = headers->http_status_line;
    if (line == nullptr) return "";
    const char* p = strchr(line, ' ');
    if (p == nullptr) return "";
    while (*p == ' ')
        p++;
    unsigned lineCode = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9' && digits < 4; p++, digits++)
        lineCode = lineCode * 10 + static_cast<unsigned>(*p - '0');
    if (digits != 3 || lineCode != code || *p != ' ') return "";
    while (*p == ' ')
        p++;
    std::string reason;
    for (size_t n = 0; p[n] != '\0' && n < MOST; n++) {
        unsigned char c = static_cast<unsigned char>(p[n]);
        if ((c < 0x20 && c != '\t') || c == 0x7f) return "";
        reason += static_cast<char>(c);
    }
    while (!reason.empty() && (reason.back() == ' ' || reason.back() == '\t'))
        reason.pop_back();
    return reason;
}

bool isStatusLine(const char* line)
{
    return strncasecmp(line, "Status:", 7) == 0;
}

// The status the answer goes out with. As PHP's CGI and FPM servers do, a
// "Status:" line gives it, unless the script set another code together
// with a status line of its own ("HTTP/1.1 404 ..."); the line itself is no
// header of the answer.
void scriptStatus(sapi_headers_struct* headers, unsigned& code, std::string& reason)
{
    code = static_cast<unsigned>(headers->http_response_code);
    reason = scriptReason(headers);
    const char* line = headers->http_status_line;
    if (code != 200 && line != nullptr && strncasecmp(line, "HTTP/", 5) == 0) return;
    zend_llist_position position;
    for (auto* h = static_cast<sapi_header_struct*>(zend_llist_get_first_ex(&headers->headers, &position));
         h != nullptr; h = static_cast<sapi_header_struct*>(zend_llist_get_next_ex(&headers->headers, &position))) {
        if (isStatusLine(h->header) && parseStatusValue(h->header + 7, h->header_len - 7, code, reason)) return;
    }
}

} // namespace

size_t sapiUbWrite(const char* text, size_t length)
{
    PHPRequestContext* context = currentPHPContext();
    if (context == nullptr) return 0;
    // Output after the script has ended, with nothing sent yet, is the whole
    // rest of the answer: hold it, so the header block can carry its length.
    if (context->holdOutput) {
        if (hold(context, text, length)) return length;
        releaseHeldOutput(context, HeldOutput::Streaming);
    }
    bool failed = false;
    try {
        // A HEAD answer is the GET answer's header block alone.
        context->request->response->write(text, context->headOnly ? 0 : length);
        context->headersPending = false;
    } catch (...) {
        failed = true;
    }
    if (failed) {
        // The client is gone. This may bail out of the script, so it runs
        // after the exception has been fully handled.
        php_handle_aborted_connection();
        return 0;
    }
    return length;
}

void releaseHeldOutput(PHPRequestContext* context, HeldOutput how)
{
    bool wasHeld = context->holdOutput;
    context->holdOutput = false;
    if (!wasHeld && !context->headersPending) return;
    context->headersPending = false;
    size_t length = context->heldLength;
    context->heldLength = 0;
    try {
        HTTPResponse* response = context->request->response;
        // Nothing on the wire yet at the end: all of the body is at hand.
        unsigned code = response->getStatus().code;
        bool bodyAllowed = code >= 200 && code != 204 && code != 304;
        if (how == HeldOutput::WithLength && !context->framedByScript && bodyAllowed && !response->isHeadersSent()) {
            response->addHeader("Content-Length", DecimalText(length));
        }
        if (context->headOnly) length = 0;
        if (length > 0 || !response->isHeadersSent()) response->write(context->held, length);
    } catch (...) {
    }
}

// flush() from the script: whatever is pending goes out now.
void sapiFlush(void*)
{
    PHPRequestContext* context = currentPHPContext();
    if (context != nullptr) releaseHeldOutput(context, HeldOutput::Streaming);
}

// PHP keeps the authoritative header list itself (replace, delete and
// delete-all applied); the lines go to the response when the block is sent.
// Delete operations carry no valid header record, so it is not looked at.
int sapiHeaderHandler(sapi_header_struct*, sapi_header_op_enum, sapi_headers_struct*)
{
    HTTPRequest* request = currentRequest();
    if (request != nullptr) {
        try {
            request->response->setAutoHeaders(true);
        } catch (...) {
        }
    }
    return SAPI_HEADER_ADD;
}

// The block is not sent here but with the first body bytes (one send), or,
// when the script has already ended, with all of its output and its length.
int sapiSendHeaders(sapi_headers_struct* headers)
{
    PHPRequestContext* context = currentPHPContext();
    if (context == nullptr) return SAPI_HEADER_SEND_FAILED;
    try {
        HTTPResponse* response = context->request->response;
        unsigned code = 200;
        std::string reason;
        scriptStatus(headers, code, reason);
        response->setStatus(code, reason);
        response->clearHeaders();
        context->framedByScript = false;
        if (!setsDate(headers)) response->addHeader("Date", currentHttpDate());
        zend_llist_position position;
        for (auto* h = static_cast<sapi_header_struct*>(zend_llist_get_first_ex(&headers->headers, &position));
             h != nullptr; h = static_cast<sapi_header_struct*>(zend_llist_get_next_ex(&headers->headers, &position))) {
            if (isStatusLine(h->header)) continue;
            response->addHeader(h->header);
            if (framesBody(h->header)) context->framedByScript = true;
        }
        response->setAutoHeaders(true);
        context->headersPending = true;
        context->holdOutput = context->shutdownStarted && !response->isHeadersSent();
        return SAPI_HEADER_SENT_SUCCESSFULLY;
    } catch (...) {
        return SAPI_HEADER_SEND_FAILED;
    }
}

size_t sapiReadPost(char* buffer, size_t count)
{
    PHPRequestContext* context = currentPHPContext();
    if (context == nullptr || context->readFailed) return 0;
    int64_t left = static_cast<int64_t>(SG(request_info).content_length) - SG(read_post_bytes);
    if (left <= 0) return 0;
    if (static_cast<int64_t>(count) > left) count = static_cast<size_t>(left);

    size_t total = 0;
    try {
        while (total < count) {
            int n = context->request->response->read(buffer + total, count - total);
            if (n <= 0) break;
            total += static_cast<size_t>(n);
        }
    } catch (...) {
        // Closed or timed out: what arrived is kept, later calls end at once.
        context->readFailed = true;
    }
    return total;
}

char* sapiReadCookies()
{
    HTTPRequest* request = currentRequest();
    if (request == nullptr) return nullptr;
    try {
        return const_cast<char*>(request->getHeader("COOKIE"));
    } catch (...) {
        return const_cast<char*>("");
    }
}

void sapiRegisterServerVariables(zval* trackVars)
{
    PHPRequestContext* context = currentPHPContext();
    if (context == nullptr || context->variables == nullptr) return;
    const ScriptVariables* variables = context->variables;
    for (size_t i = 0; i < variables->count(); i++) {
        php_register_variable(variables->name(i), variables->value(i), trackVars);
    }
    // The runtime took the user and password from the Authorization header.
    if (SG(request_info).auth_user != nullptr) php_register_variable("AUTH_TYPE", "Basic", trackVars);
}

// apache_request_headers(): array, also known as getallheaders(). The
// headers by name, spelt from their variables as PHP's FPM server spells
// them ("User-Agent", "Content-Type").
ZEND_FUNCTION(apache_request_headers)
{
    ZEND_PARSE_PARAMETERS_NONE();
    array_init(return_value);
    PHPRequestContext* context = currentPHPContext();
    if (context == nullptr || context->variables == nullptr) return;
    const ScriptVariables* variables = context->variables;
    for (size_t i = 0; i < variables->count(); i++) {
        const char* value = variables->value(i);
        sapi_add_request_header(variables->name(i), static_cast<unsigned>(strlen(variables->name(i))),
            const_cast<char*>(value), static_cast<unsigned>(strlen(value)), return_value);
    }
}

// A HEAD request runs the script as GET does, so that its header block is
// the same; the output is counted, not sent (see hold and sapiUbWrite).
int sapiActivate()
{
    PHPRequestContext* context = currentPHPContext();
    if (context != nullptr && context->headOnly) SG(request_info).headers_only = 0;
    return SUCCESS;
}

size_t formatPHPLogLine(char* out, size_t size, const char* message)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    int n = snprintf(out, size, "%.3s %.3s%3u %.2u:%.2u:%.2u %u : %s\r\n", days[t.tm_wday % 7], months[t.tm_mon % 12],
        static_cast<unsigned>(t.tm_mday), static_cast<unsigned>(t.tm_hour), static_cast<unsigned>(t.tm_min),
        static_cast<unsigned>(t.tm_sec), static_cast<unsigned>(t.tm_year + 1900), message);
    if (n < 0) return 0;
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

void sapiLogMessage(const char* message, int)
{
    if (!isConsoleFrontEnd()) return;
    // A script may log what a client sent: control bytes are written as
    // "\x1b" and the like, never as terminal controls or extra lines.
    size_t n = strlen(message);
    char* text = static_cast<char*>(malloc(n * 4 + 1));
    if (text == nullptr) return;
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(message[i]);
        if (c < 0x20 || c == 0x7f) {
            k += static_cast<size_t>(snprintf(text + k, 5, "\\x%02x", c));
        } else {
            text[k++] = static_cast<char>(c);
        }
    }
    text[k] = '\0';
    // One write per line, so lines of several workers never interleave.
    size_t size = k + 64;
    char* line = static_cast<char*>(malloc(size));
    if (line != nullptr) {
        size_t length = formatPHPLogLine(line, size, text);
        writeAll(STDOUT_FILENO, line, length);
        free(line);
    }
    free(text);
}

void sapiTerminateProcess()
{
}

#endif
