#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ChunkedDecoder.h"
#include "WSocket.h"

class ClientConnection;

// Takes the rest of a file transfer off a worker when the client is slow to
// read it, so that the worker can serve the next request meanwhile. On
// success the connection and the file descriptor belong to the taker.
class FileSendHandoff {
public:
    virtual bool takeFileSend(
        ClientConnection& connection, int fileFd, uint64_t offset, uint64_t count, const char* path)
        = 0;

protected:
    ~FileSendHandoff() = default;
};

// The client connection a worker serves: a non-blocking socket whose head
// has been read already, plus the bytes that came after the head. Reads
// deliver those bytes first, then wait for more, each wait bounded by the
// receive time-out and all of them by the body deadline. Writes wait for
// the client as long as it keeps reading: a send window in which less than
// MIN_SEND_PROGRESS bytes went out ends the connection.
//
// Failures throw WSocketException: "Read timeout" (-5), "Connection was
// closed." (-6), "Cannot write into socket." (-3).
class ClientConnection : public WSocketIO {
public:
    // Bytes that must leave within one send window.
    static constexpr uint64_t MIN_SEND_PROGRESS = 16 * 1024;

    ClientConnection();
    // Serves fd, which it makes non-blocking.
    explicit ClientConnection(int fd);
    virtual ~ClientConnection();

    // Serves the non-blocking socket fd from now on, with data[0..n) as the
    // first bytes to read. Settings go back to their defaults.
    void attach(int fd, const char* data, size_t n);
    // Gives the descriptor up without closing it; returns it.
    int detach();
    int getHandle() const { return fd; }

    // Longest wait for a single piece of the body.
    void setReceiveTimeout(unsigned long milliseconds) { receiveTimeoutMs = milliseconds; }
    // No body byte is read after this point of the monotonic clock (ms; 0 = none).
    void setBodyDeadline(int64_t monotonicMs) { bodyDeadline = monotonicMs; }
    // Waits for body bytes end at once (the server already waited for them).
    void setBodyStalled(bool stalled) { bodyStalled = stalled; }
    // The send window (ms) in which MIN_SEND_PROGRESS bytes must go out.
    void setSendWindow(unsigned long milliseconds) { sendWindowMs = milliseconds; }
    // The client waits for "100 Continue" before it sends the body: it is
    // sent before the first wait for body bytes.
    void setExpectContinue(bool expect) { expectContinue = expect; }
    void setFileSendHandoff(FileSendHandoff* taker) { handoff = taker; }
    // Who serves the connection. An event loop serves many clients: what it
    // writes itself must fit a new connection's send buffer, the rest of a
    // file goes through the handoff.
    enum class Server { Worker, EventLoop };
    void setServer(Server who) { server = who; }
    // The most a single write should carry (the rest of a file is sent by
    // the system).
    unsigned long firstWriteLimit(unsigned long usual) const
    {
        return server == Server::EventLoop && usual > EVENT_LOOP_WRITE ? EVENT_LOOP_WRITE : usual;
    }

    // Reads and decodes a chunked body completely (at most maxBytes of
    // data); afterwards reads deliver the decoded bytes. False when it is
    // malformed or too large.
    bool decodeChunkedBody(size_t maxBytes);

    void connect() override;
    void write(const char* text) override;
    void write(const WString& text) override;
    void write(const void* data, unsigned long length) override;
    void writeln(const char* text) override;
    void writeln(const WString& text) override;
    int read(void* buffer, unsigned long length, bool peek) override;
    bool readln(WString& line) override;
    void close() override;

    // Two blocks (a header block and the first body bytes) in one send.
    void write(const void* first, size_t firstLength, const void* second, size_t secondLength);
    // Sends count bytes of fileFd from offset. Returns the bytes sent (fewer
    // only when the file ended early); handedOff is set when a slow client
    // made the handoff take the rest, together with the connection.
    uint64_t sendFile(int fileFd, uint64_t offset, uint64_t count, const char* path, bool& handedOff);
    bool canSendFile() const;

    // Bytes waiting in the socket itself.
    bool socketInputWaiting() const;
    // Bytes read ahead and not yet delivered.
    size_t pendingBytes() const { return pending.size() - pendingOffset; }
    // Ends the sending side; the client sees the end of the response.
    bool shutdownSend();
    // A send made too little progress: the connection is to be cut.
    bool wasCut() const { return cut; }
    // Makes the close of socket discard what is still queued for the client.
    static void abortOnClose(int socket);

    // The monotonic clock in milliseconds.
    static int64_t monotonicMs();

private:
    // Waits until the socket can take more; throws when the send window ran
    // out with too little progress.
    void waitWritable();
    // Waits for input; throws "Read timeout" when none comes in time.
    void waitReadable();
    void sendContinue();
    void noteSent(size_t n) { windowBytes += n; }

    int fd;
    std::string pending;
    size_t pendingOffset;
    unsigned long receiveTimeoutMs;
    int64_t bodyDeadline;
    bool bodyStalled;
    unsigned long sendWindowMs;
    bool expectContinue;
    int64_t windowStart;
    uint64_t windowBytes;
    bool cut;
    FileSendHandoff* handoff;
    Server server = Server::Worker;
    // A new connection's send buffer takes this much at once whatever the
    // client does.
    static constexpr unsigned long EVENT_LOOP_WRITE = 4096;
    ChunkedDecoder decoder;
    std::string decoded;

    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;
};
