#pragma once

#include "HTTPStatus.h"
#include "WString.h"

#include <cstdint>
#include <string>
#include <vector>

class ClientConnection;
class ZorvaneControl;

// What a request asks of a static file besides its path: the method and the
// headers that choose the answer, each "" when it was not sent.
struct FileRequest {
    bool headOnly = false; // HEAD: GET's status and headers, no body
    const char* ifModifiedSince = "";
    const char* ifRange = "";
    const char* range = "";
};

// The one response of a connection: status line, header lines in insertion
// order, then the body. Every header block starts "HTTP/1.1 %u %s", carries the
// server line, ends its lines with "\r\n" and (as every caller asks) ends
// with "Connection: close". Used by its worker thread only.
class HTTPResponse {
public:
    // Header blocks leave together with the first body bytes without a copy,
    // and files are queued as ranges the loop sends.
    HTTPResponse(ZorvaneControl* control, ClientConnection* connection);
    ~HTTPResponse();

    void setStatus(const HTTPStatus& status);
    void setStatus(unsigned code);
    // The answer's own reason text (a script's status line), kept by the
    // response; the table's text when reason is empty.
    void setStatus(unsigned code, const std::string& reason);
    const HTTPStatus& getStatus() const { return status; }

    // Appends a complete header line ("Name: value", no line end).
    void addHeader(const char* line);
    // Appends "name: value".
    void addHeader(const char* name, const char* value);
    void clearHeaders();

    // Send the header block by itself before the first body bytes.
    void setAutoHeaders(bool on);
    // The body continues the header block: no empty line after the headers.
    void setRawCGIOutput(bool on);
    bool isHeadersSent() const { return headersSent; }
    // The answer broke off after its header block had gone out (an error
    // after the status line, a file that ended early): the socket is set to
    // reset on close, and whoever closes the connection must close it at
    // once, without a graceful shutdown or a drain of the client's input.
    bool wasCut() const { return cut; }

    // Writes a complete header block (whatever went out before); logs it at level 3.
    void sendHeaders(bool connectionClose);
    // Body bytes; sends the automatic block first when one is due.
    void write(const void* data, unsigned long length);
    // One receive of at most length bytes from the client (the request body).
    int read(void* buffer, unsigned long length);

    // A complete error response: text/html header block and the page, whose
    // message is HTML-escaped. quiet swallows a socket failure of the page write.
    // After a header block has gone out nothing is sent: the answer is cut
    // (see wasCut).
    void sendError(const HTTPStatus& status, const char* message, bool quiet);
    // 301 with "Location", no body.
    void redirect(const char* location);

    // Sends a static file with its dates: 304 when If-Modified-Since names
    // its date, else the first range of Range (206, or 416 when it starts past
    // the end) unless If-Range names another validator, else the whole file.
    // Sizes and positions are 64-bit. openFile, when not -1, is path already
    // opened for reading; the call takes it over and closes it.
    void sendFile(const char* path, const char* mimeType, const FileRequest& request, int openFile = -1);
    // The same from the memory of this thread's small-file cache, when it
    // holds path as the file is now; false (and nothing sent) otherwise.
    bool sendCachedFile(const char* path, const char* mimeType, const FileRequest& request);

private:
    enum class FileSource {
        File, // the file (kept in this thread's cache when it qualifies)
        Cache, // this thread's cache, or nothing
    };
    bool sendFileFrom(
        FileSource source, const char* path, const char* mimeType, const FileRequest& request, int openFile);
    // The status line, server line, header lines and (when asked) "Connection: close".
    void buildHeaderBlock(WString& out, bool connectionClose) const;
    // Logs the block, ends it, and sends it with the first body bytes.
    void sendBlock(WString& block, const void* body, unsigned long bodyLength);
    // Ends the answer short: see wasCut.
    void cutOff();

    ClientConnection* connection;
    std::vector<WString> headers;
    HTTPStatus status;
    std::string ownReason; // the text status.reason points to, when not the table's
    bool autoHeaders;
    bool rawCGIOutput;
    bool headersSent;
    bool cut;
    ZorvaneControl* control;

    HTTPResponse(const HTTPResponse&) = delete;
    HTTPResponse& operator=(const HTTPResponse&) = delete;
};
