#include "WSocket.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "WException.h"
#include "WIPAddress.h"
#include "internal/WSocketCore.h"

namespace {

sockaddr_in anyAddress()
{
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    return a;
}

bool setOption(const WSocket& s, int level, int name, const void* value, socklen_t size)
{
    return s.getHandle() >= 0 && setsockopt(s.getHandle(), level, name, value, size) == 0;
}

bool setTimeout(const WSocket& s, int name, unsigned long ms)
{
    timeval t;
    t.tv_sec = (time_t)(ms / 1000);
    t.tv_usec = (suseconds_t)((ms % 1000) * 1000);
    return setOption(s, SOL_SOCKET, name, &t, sizeof t);
}

bool setInt(const WSocket& s, int name, int value)
{
    return setOption(s, SOL_SOCKET, name, &value, sizeof value);
}

} // namespace

// ------------------------------------------------------------- WSocket::Share

WSocket::Share::Share(WSocketHandle fd)
{
    try {
        block = new WSocketShared(fd);
    } catch (...) {
        ::close(fd);
        throw;
    }
}

WSocket::Share::Share(const Share& other) : block(other.block)
{
    if (block != nullptr) block->shares.fetch_add(1);
}

WSocket::Share::Share(Share&& other) noexcept : block(other.block)
{
    other.block = nullptr;
}

WSocket::Share& WSocket::Share::operator=(Share other) noexcept
{
    std::swap(block, other.block);
    return *this; // other takes the old share with it
}

void WSocket::Share::release(int how) noexcept
{
    WSocketShared* s = block;
    block = nullptr;
    if (s == nullptr || s->shares.fetch_sub(1) != 1) return;
    if (how != NO_SHUTDOWN) ::shutdown(s->fd, how);
    ::close(s->fd);
    delete s;
}

// -------------------------------------------------------------------- WSocket

WSocket::WSocket() : address(anyAddress()), requestedPort(0), bytesRead(0), shutdownMode(SHUT_WR)
{
}

WSocket::WSocket(const WIPAddress& a) : WSocket()
{
    init(a);
}

WSocket::WSocket(WSocketHandle s, const sockaddr_in& a) : WSocket()
{
    init(s, a);
}

WSocket::WSocket(const WSocket& other)
    : shared(other.shared), address(other.address), requestedPort(other.requestedPort), bytesRead(other.bytesRead),
      shutdownMode(other.shutdownMode)
{
}

WSocket& WSocket::operator=(const WSocket& other)
{
    init(other);
    return *this;
}

WSocket::~WSocket()
{
    drop();
}

void WSocket::init(WSocketHandle s, const sockaddr_in& a)
{
    attach(s);
    address = a;
    requestedPort = ntohs(a.sin_port);
}

void WSocket::init(unsigned long ip, unsigned long port)
{
    address = anyAddress();
    address.sin_addr.s_addr = (uint32_t)ip;
    requestedPort = port;
    // Never truncated to 16 bits: 65616 would become port 80.
    address.sin_port = hasValidPort() ? htons((uint16_t)port) : 0;
}

void WSocket::init(const WIPAddress& a)
{
    init(a.getIpAddress(), a.getPort());
}

void WSocket::init(const WSocket& other)
{
    if (this == &other) return;
    Share copy(other.shared); // counted before ours goes: both may be one block
    drop();
    shared = std::move(copy);
    address = other.address;
    requestedPort = other.requestedPort;
    bytesRead = other.bytesRead;
    shutdownMode = other.shutdownMode;
}

void WSocket::attach(WSocketHandle fd)
{
    drop();
    if (fd >= 0) shared = Share(fd);
}

void WSocket::drop(bool quiet)
{
    shared.release(quiet ? Share::NO_SHUTDOWN : shutdownMode);
}

WSocketHandle WSocket::getHandle() const
{
    return shared ? shared->fd : W_INVALID_SOCKET;
}

void WSocket::create(bool datagram)
{
    drop();
    int fd = WSocketCore::openSocket(datagram);
    if (fd < 0) WSocketCore::fail(errno, -3, "Cannot create socket.");
    attach(fd);
}

void WSocket::connect()
{
    if (!hasValidPort())
        WSocketCore::fail(
            EINVAL, -2, "Cannot connect to %s:%lu", WSocketCore::dotted(address.sin_addr.s_addr), requestedPort);
    if (!shared) create(false);
    int rc = WSocketCore::connectTo(shared->fd, address.sin_addr.s_addr, address.sin_port, -1);
    if (rc != 0)
        WSocketCore::fail(rc, -2, "Cannot connect to %s:%u", WSocketCore::dotted(address.sin_addr.s_addr),
            (unsigned)ntohs(address.sin_port));
}

void WSocket::write(const char* text)
{
    write(text, strlen(text));
}

void WSocket::write(const WString& text)
{
    write(text.getBuf(), text.length());
}

void WSocket::write(const void* data, unsigned long length)
{
    if (!shared) WSocketCore::fail(EBADF, -3, "Cannot write into socket.");
    WSocketCore::sendAll(shared->fd, data, length);
}

void WSocket::writeln(const char* text)
{
    if (!shared) WSocketCore::fail(EBADF, -3, "Cannot write into socket.");
    WSocketCore::sendAll(shared->fd, text, strlen(text), "\n", 1);
}

void WSocket::writeln(const WString& text)
{
    if (!shared) WSocketCore::fail(EBADF, -3, "Cannot write into socket.");
    WSocketCore::sendAll(shared->fd, text.getBuf(), text.length(), "\n", 1);
}

int WSocket::read(void* buffer, unsigned long length, bool peek)
{
    bytesRead = 0;
    if (length == 0) return 0;
    if (!shared) WSocketCore::fail(EBADF, -6, "Connection was closed.");
    // Bytes that line reading took ahead come first.
    WSocketShared* s = shared.get();
    if (s->end > s->start) {
        unsigned long n = s->end - s->start;
        if (n > length) n = length;
        memcpy(buffer, s->ahead + s->start, n);
        if (!peek) s->start += (uint32_t)n;
        bytesRead = (uint32_t)n;
        return (int)n;
    }
    if (length > 0x7FFFFFFFul) length = 0x7FFFFFFFul; // the count must fit the int result
    long n = WSocketCore::receive(s->fd, buffer, length, peek ? MSG_PEEK : 0);
    bytesRead = (uint32_t)n;
    return (int)n;
}

bool WSocket::readln(WString& line)
{
    // Same result as reading byte by byte into 255-character chunks that are
    // appended as C texts (a NUL ends its chunk's part of the line), but the
    // bytes come from the read-ahead buffer, one receive per buffer-full.
    line.assign("");
    if (!shared) return false;
    WSocketShared* s = shared.get();
    WSocketCore::LineGatherer gatherer(line, MAX_LINE_LENGTH);
    for (;;) {
        if (s->start == s->end) {
            long n;
            try {
                n = WSocketCore::receive(s->fd, s->ahead, sizeof s->ahead, 0);
            } catch (WSocketException& e) {
                if (e.getId() == -6) return false;
                throw;
            }
            if (n == 0) { // non-blocking and nothing there yet
                if (!WSocketCore::waitReady(s->fd, POLLIN)) return false;
                continue;
            }
            bytesRead = (uint32_t)n;
            s->start = 0;
            s->end = (uint32_t)n;
        }
        while (s->start < s->end) {
            if (gatherer.add(s->ahead[s->start++])) return true;
        }
    }
}

void WSocket::close()
{
    if (!shared) return;
    ::shutdown(shared->fd, shutdownMode);
    drop(true);
}

void WSocket::release()
{
    drop(true);
}

bool WSocket::shutdownSend()
{
    return shared && ::shutdown(shared->fd, SHUT_WR) == 0;
}

bool WSocket::setReuseAddress(bool on)
{
    return setInt(*this, SO_REUSEADDR, on ? 1 : 0);
}

bool WSocket::setRecvTimeout(unsigned long milliseconds)
{
    return setTimeout(*this, SO_RCVTIMEO, milliseconds);
}

bool WSocket::setSendTimeout(unsigned long milliseconds)
{
    return setTimeout(*this, SO_SNDTIMEO, milliseconds);
}

bool WSocket::setNonBlocking(bool on)
{
    int fd = getHandle();
    if (fd < 0) return false;
    int flags = fcntl(fd, F_GETFL);
    if (flags == -1) return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}

bool WSocket::setRecvBufSize(unsigned long bytes)
{
    return setInt(*this, SO_RCVBUF, (int)bytes);
}

bool WSocket::setSendBufSize(unsigned long bytes)
{
    return setInt(*this, SO_SNDBUF, (int)bytes);
}

unsigned long WSocket::getPort() const
{
    return hasValidPort() ? ntohs(address.sin_port) : requestedPort;
}

void WSocket::getLocalName(WIPAddress& out) const
{
    sockaddr_in a;
    socklen_t size = sizeof a;
    if (getHandle() >= 0 && getsockname(getHandle(), reinterpret_cast<sockaddr*>(&a), &size) == 0)
        out = WIPAddress(a.sin_addr.s_addr, ntohs(a.sin_port));
}

void WSocket::getPeerName(WIPAddress& out) const
{
    sockaddr_in a;
    socklen_t size = sizeof a;
    if (getHandle() >= 0 && getpeername(getHandle(), reinterpret_cast<sockaddr*>(&a), &size) == 0)
        out = WIPAddress(a.sin_addr.s_addr, ntohs(a.sin_port));
}
