#include "internal/WSocketCore.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include "WException.h"
#include "internal/WThreadControl.h"

namespace WSocketCore {

void fail(int err, int id, const char* format, ...)
{
    WFormattedString message(512);
    va_list args;
    va_start(args, format);
    message.vformat(format, args);
    va_end(args);
    errno = err;
    throw WSocketException(message.getBuf(), id);
}

void failHost(int err, int id, const char* format, ...)
{
    WFormattedString message(512);
    va_list args;
    va_start(args, format);
    message.vformat(format, args);
    va_end(args);
    errno = err;
    throw WUnknownHostException(message.getBuf(), id);
}

bool isNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    return flags != -1 && (flags & O_NONBLOCK) != 0;
}

long receive(int fd, void* buffer, size_t length, int flags)
{
    for (;;) {
        if (WThreadKill::checkPoint()) fail(ECANCELED, -6, "Connection was closed.");
        ssize_t n;
        {
            WThreadKill::BlockingCall call(fd);
            n = ::recv(fd, buffer, length, flags);
        }
        if (n > 0) return (long)n;
        // recv's 0 is the peer's orderly close, whatever errno holds.
        int e = n == 0 ? 0 : errno;
        if (WThreadKill::requested()) {
            WThreadKill::end();
            fail(e != 0 ? e : ECANCELED, -6, "Connection was closed.");
        }
        if (n == 0) fail(0, -6, "Connection was closed.");
        if (e == EINTR) continue;
        if (e == EAGAIN || e == EWOULDBLOCK) {
            // The same code means "nothing yet" for a non-blocking socket and
            // "the receive time-out ran out" for a blocking one.
            if (isNonBlocking(fd)) return 0;
            fail(e, -5, "Read timeout");
        }
        fail(e, -6, "Connection was closed.");
    }
}

void sendAll(int fd, const void* data, size_t length)
{
    sendAll(fd, data, length, nullptr, 0);
}

void sendAll(int fd, const void* first, size_t firstLength, const void* second, size_t secondLength)
{
    iovec parts[2] = {{const_cast<void*>(first), firstLength}, {const_cast<void*>(second), secondLength}};
    iovec* next = parts;
    size_t count = 2;
    for (;;) {
        while (count > 0 && next->iov_len == 0) {
            next++;
            count--;
        }
        if (count == 0) return;
        if (WThreadKill::checkPoint()) fail(ECANCELED, -3, "Cannot write into socket.");
        msghdr message {};
        message.msg_iov = next;
        message.msg_iovlen = count;
        ssize_t n;
        {
            WThreadKill::BlockingCall call(fd);
            n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        }
        if (n > 0) {
            // Step over what went out; a block may have gone in part.
            size_t sent = (size_t)n;
            while (sent > 0) {
                size_t step = sent < next->iov_len ? sent : next->iov_len;
                next->iov_base = static_cast<char*>(next->iov_base) + step;
                next->iov_len -= step;
                sent -= step;
                if (next->iov_len == 0 && count > 1) {
                    next++;
                    count--;
                }
            }
            continue;
        }
        int e = n == 0 ? EIO : errno;
        if (WThreadKill::requested()) {
            WThreadKill::end();
            fail(e, -3, "Cannot write into socket.");
        }
        if (e == EINTR) continue;
        if ((e == EAGAIN || e == EWOULDBLOCK) && isNonBlocking(fd)) {
            if (waitReady(fd, POLLOUT)) continue;
            e = errno;
        }
        // EAGAIN on a blocking socket: the send time-out ran out.
        fail(e, -3, "Cannot write into socket.");
    }
}

bool waitReady(int fd, short events)
{
    for (;;) {
        if (WThreadKill::checkPoint()) {
            errno = ECANCELED;
            return false;
        }
        pollfd p {fd, events, 0};
        int rc;
        {
            WThreadKill::BlockingCall call(fd);
            rc = ::poll(&p, 1, -1);
        }
        if (rc > 0) {
            if (p.revents & POLLNVAL) {
                errno = EBADF;
                return false;
            }
            return true; // ready, or an error the next call reports
        }
        if (rc < 0 && errno != EINTR) return false;
    }
}

int openSocket(bool datagram)
{
    return ::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
}

int connectTo(int fd, uint32_t ip, uint16_t portNbo, long timeoutMs)
{
    if (WThreadKill::checkPoint()) return ECANCELED;
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_port = portNbo;
    target.sin_addr.s_addr = ip;
    int rc;
    {
        WThreadKill::BlockingCall call(fd);
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    }
    if (rc == 0) return 0;
    int e = errno;
    if (WThreadKill::requested()) {
        WThreadKill::end();
        return ECANCELED;
    }
    if (e != EINTR && e != EINPROGRESS) return e;

    // The connection goes on in the background: wait for its outcome.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (WThreadKill::checkPoint()) return ECANCELED;
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return ETIMEDOUT;
            wait = (int)left.count();
        }
        pollfd p {fd, POLLOUT, 0};
        {
            WThreadKill::BlockingCall call(fd);
            rc = ::poll(&p, 1, wait);
        }
        if (WThreadKill::requested()) {
            WThreadKill::end();
            return ECANCELED;
        }
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return errno;
        if (rc == 0) continue; // the deadline check above decides
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
        return error;
    }
}

const char* dotted(uint32_t ip)
{
    // By hand: this runs for every request, and the library's formatter costs
    // more than the request's parsing.
    thread_local char text[INET_ADDRSTRLEN];
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&ip); // network order
    char* p = text;
    for (int i = 0; i < 4; ++i) {
        unsigned v = bytes[i];
        if (v >= 100) *p++ = (char)('0' + v / 100);
        if (v >= 10) *p++ = (char)('0' + v / 10 % 10);
        *p++ = (char)('0' + v % 10);
        *p++ = i < 3 ? '.' : '\0';
    }
    return text;
}

bool LineGatherer::add(char c)
{
    if (c == '\r') return false;
    if (c == '\n') {
        chunk[pos] = '\0';
        line.append(chunk);
        return true;
    }
    if (++length > limit) fail(EMSGSIZE, -4, "Line too long.");
    chunk[pos++] = c;
    if (pos == 255) {
        chunk[pos] = '\0';
        line.append(chunk);
        pos = 0;
    }
    return false;
}

} // namespace WSocketCore
