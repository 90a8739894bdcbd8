#pragma once

#include <cstdint>

#include <netinet/in.h>

#include "WIPAddress.h"
#include "WString.h"

struct WSocketShared;

// A system socket descriptor; -1 means none.
typedef int WSocketHandle;
constexpr WSocketHandle W_INVALID_SOCKET = -1;

// The byte-stream interface of a connection.
class WSocketIO {
public:
    virtual void connect() = 0;
    virtual void write(const char* text) = 0;
    virtual void write(const WString& text) = 0;
    virtual void write(const void* data, unsigned long length) = 0;
    virtual void writeln(const char* text) = 0;
    virtual void writeln(const WString& text) = 0;
    virtual int read(void* buffer, unsigned long length, bool peek) = 0;
    virtual bool readln(WString& line) = 0;
    virtual void close() = 0;

protected:
    ~WSocketIO() = default; // not deleted through the interface
};

// A TCP (or, through WDatagramSocket, UDP) socket over IPv4.
//
// Ownership: copies share one descriptor, counted, and the descriptor is
// closed when the last share goes, so no copy ever closes a descriptor that
// another copy still holds (its number cannot be reused under it).
// close() ends the connection for every copy (it shuts it down in the
// shutdown mode) and gives up this object's share; the destructor, assignment
// and accept() only give up the share (shutting down when it was the last).
// After handing a connection over by copy, the giver calls release(): then
// the receiver alone owns the descriptor and its close() frees it at once.
//
// Reading: readln() reads ahead into a buffer that belongs to the connection
// (shared by the copies); read() delivers those bytes first, so whatever
// follows a block of lines is still there for read(). Raw reads on
// getHandle() bypass that buffer.
//
// A line is at most MAX_LINE_LENGTH characters (CRs not counted): a peer
// sending more without a line feed gets "Line too long." (-4, EMSGSIZE)
// instead of growing the line without bound; the rest of that line is
// still unread, so the caller drops the connection.
//
// Failures throw WSocketException with errno as the system error code:
// "Read timeout" (-5) when the receive time-out runs out, "Connection was
// closed." (-6) when the peer closed or the receive failed.
class WSocket : public WSocketIO {
public:
    static constexpr unsigned long MAX_LINE_LENGTH = 65536;

    WSocket();
    explicit WSocket(const WIPAddress& address);
    WSocket(WSocketHandle s, const sockaddr_in& address);
    WSocket(const WSocket& other);
    WSocket& operator=(const WSocket& other);
    virtual ~WSocket();

    // Takes ownership of s.
    void init(WSocketHandle s, const sockaddr_in& address);
    // ip in network byte order, port in host byte order. A port above 65535
    // is kept as given and refused by connect() and WServerSocket::create().
    void init(unsigned long ip, unsigned long port);
    void init(const WIPAddress& address);
    void init(const WSocket& other);

    // Makes a new socket (datagram or stream), giving up the one held.
    void create(bool datagram = false);

    void connect() override;
    void write(const char* text) override;
    void write(const WString& text) override;
    // Sends the whole block, however many system calls it takes.
    void write(const void* data, unsigned long length) override;
    // The text, then a single "\n".
    void writeln(const char* text) override;
    void writeln(const WString& text) override;
    // Up to length bytes; 0 for a non-blocking socket with nothing ready.
    int read(void* buffer, unsigned long length, bool peek) override;
    // A line without its CRs and final LF; false when the peer closed first.
    // At most MAX_LINE_LENGTH characters (see above).
    bool readln(WString& line) override;
    void close() override;

    // Gives up this object's share without touching the connection: the
    // remaining copies own it alone. (The last share closes the descriptor.)
    void release();
    // Shuts the sending side down at once, for every copy: the peer reads
    // the end of the data while this side can still receive.
    bool shutdownSend();

    bool setReuseAddress(bool on);
    bool setRecvTimeout(unsigned long milliseconds);
    bool setSendTimeout(unsigned long milliseconds);
    bool setNonBlocking(bool on);
    bool setRecvBufSize(unsigned long bytes);
    bool setSendBufSize(unsigned long bytes);
    // The direction close() gives to the system's shutdown (1: sending side).
    void setShutdownMode(int mode) { shutdownMode = mode; }

    unsigned long getPort() const;
    unsigned long getEOFBytes() const { return bytesRead; }
    const sockaddr_in& getAddress() const { return address; }
    WSocketHandle getHandle() const;
    bool isOpen() const { return static_cast<bool>(shared); }

    void getLocalName(WIPAddress& out) const;
    void getPeerName(WIPAddress& out) const;

protected:
    // Holds fd from now on, giving up the previous share.
    void attach(WSocketHandle fd);
    // Gives up the share; the last one is shut down (unless quiet) and closed.
    void drop(bool quiet = false);

    friend class WServerSocket;

    // The port of address as the caller gave it: address can hold 16 bits only.
    bool hasValidPort() const { return requestedPort <= 0xFFFF; }

    // One counted share of the descriptor block that copies hold together;
    // the last share to go closes the descriptor.
    class Share {
    public:
        static constexpr int NO_SHUTDOWN = -1;

        Share() = default;
        // The first share of a new descriptor (closed again should that fail).
        explicit Share(WSocketHandle fd);
        Share(const Share& other);
        Share(Share&& other) noexcept;
        Share& operator=(Share other) noexcept;
        ~Share() { release(NO_SHUTDOWN); }

        // Gives this share up. The last one shuts the connection down in
        // direction how (unless NO_SHUTDOWN) and closes the descriptor.
        void release(int how) noexcept;

        WSocketShared* get() const { return block; }
        WSocketShared* operator->() const { return block; }
        explicit operator bool() const { return block != nullptr; }

    private:
        WSocketShared* block = nullptr;
    };

    Share shared;
    sockaddr_in address;
    unsigned long requestedPort;
    uint32_t bytesRead;
    int shutdownMode;
};
