#pragma once

#include <cstddef>
#include <cstdint>

#include "WSocket.h"

#include "OutputQueue.h"

class RequestBody;

// The stream an answer is written to and a request body read from, for one
// connection. It never waits for the client: reads deliver the body that the
// event loop collected before the script started, writes go to the
// connection's output queue, which only the loop sends from.
//
// Failures throw WSocketException: "Connection was closed." (-6) when the
// body cannot be read, "Cannot write into socket." (-3) once the client is
// gone.
class ClientConnection : public WSocketIO {
public:
    // Who writes: the event loop sends right after its handler returns; a
    // worker's writes tell the loop through the listener.
    enum class Server { Worker, EventLoop };

    ClientConnection() = default;
    virtual ~ClientConnection();

    // Serves an answer: output to output, the body (null: none) from its
    // start. The stream never sees the client's socket.
    void attach(OutputQueue& output, const RequestBody* body, Server who, OutputListener* listener);
    void detach();

    // The most a single write should carry: on an event loop large files go
    // as file ranges, not through memory.
    unsigned long firstWriteLimit(unsigned long usual) const
    {
        return server == Server::EventLoop && usual > EVENT_LOOP_WRITE ? EVENT_LOOP_WRITE : usual;
    }

    void connect() override;
    void write(const char* text) override;
    void write(const WString& text) override;
    void write(const void* data, unsigned long length) override;
    void writeln(const char* text) override;
    void writeln(const WString& text) override;
    int read(void* buffer, unsigned long length, bool peek) override;
    bool readln(WString& line) override;
    void close() override;

    // Two blocks (a header block and the first body bytes) as one piece.
    void write(const void* first, size_t firstLength, const void* second, size_t secondLength);
    // Queues count bytes of fileFd from offset: the loop sends them, and
    // logs a file that ends before its range does. The queue
    // takes fileFd over (see OutputQueue::appendFile).
    void queueFile(int fileFd, uint64_t offset, uint64_t count, const char* path);
    bool canQueueFile() const { return output != nullptr; }

    // Body bytes not yet read.
    uint64_t pendingBytes() const;

    // Makes the close of socket discard what is still queued for the client.
    static void abortOnClose(int socket);
    // The monotonic clock in milliseconds.
    static int64_t monotonicMs();

private:
    void queued(bool tell);

    static constexpr unsigned long EVENT_LOOP_WRITE = 4096;

    OutputQueue* output = nullptr;
    const RequestBody* body = nullptr;
    uint64_t bodyOffset = 0;
    Server server = Server::Worker;
    OutputListener* listener = nullptr;

    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;
};
