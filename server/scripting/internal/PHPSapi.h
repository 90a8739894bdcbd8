#pragma once

// Shared by the PHP glue files only: the runtime's own headers and the
// server API callbacks of our module record.

#include <php.h>
#include <SAPI.h>
#include <php_main.h>
#include <php_variables.h>
#include <php_output.h>
#include <zend_constants.h>

class HTTPRequest;
class PHPScriptEnvironment;
class ScriptVariables;

// What the callbacks of one script run reach through SG(server_context).
// Lives in executePHPScript's frame; plain data only.
struct PHPRequestContext {
    HTTPRequest* request;
    const char* scriptPath; // the script file, made absolute
    const ScriptVariables* variables; // what $_SERVER gets from the request
    PHPScriptEnvironment* environment; // what the script changed with putenv()
    bool headOnly; // a HEAD request: the script runs as for GET, its output is only counted
    bool readFailed; // a body read failed: the rest of the body is gone
    bool handleOpen; // `handle` holds the script's file handle
    bool shutdownStarted; // php_request_shutdown has been entered
    bool crashed; // the runtime crashed in this request (reported once)
    bool headersPending; // PHP sent its headers; they go out with the first bytes
    bool holdOutput; // the script ended with nothing sent: output is held to learn its length
    bool framedByScript; // the script set Content-Length or Transfer-Encoding itself
    char* held; // held output (malloc), heldLength bytes of heldCapacity
    size_t heldLength;
    size_t heldCapacity;
    zend_file_handle handle;
};

// How held output leaves: with its length, once the script's output is
// complete, or without, when the script flushes while it is held.
enum class HeldOutput { WithLength, Streaming };
// The current request's context on this thread, or null outside a script run.
PHPRequestContext* currentPHPContext();

// Callbacks of the module record.
size_t sapiUbWrite(const char* text, size_t length);
int sapiHeaderHandler(sapi_header_struct* header, sapi_header_op_enum op, sapi_headers_struct* headers);
int sapiSendHeaders(sapi_headers_struct* headers);
size_t sapiReadPost(char* buffer, size_t count);
char* sapiReadCookies();
void sapiRegisterServerVariables(zval* trackVars);
void sapiLogMessage(const char* message, int syslogType);
void sapiTerminateProcess();
void sapiFlush(void* serverContext);
void sapiIniDefaults(HashTable* configuration);
int sapiActivate();

// Functions our module adds for scripts.
ZEND_FUNCTION(apache_request_headers);

// Sends what the response still owes: the pending header block and the held
// output. Throws nothing; a client that is gone gets nothing.
void releaseHeldOutput(PHPRequestContext* context, HeldOutput how);

// Reports a crash of the runtime: level -1 log line, status 500 when nothing
// went out yet (held output is dropped), then the text to the client; PHP's
// own output ends there. Returns the number of bytes written.
int reportPHPCrash(const char* text, unsigned length);

// Formats a PHP log line "<date> : <message>\r\n" (date in the fixed log
// format, local time) into out; returns its length (cut to size - 1).
size_t formatPHPLogLine(char* out, size_t size, const char* message);
