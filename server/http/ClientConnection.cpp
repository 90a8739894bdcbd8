#include "ClientConnection.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "WException.h"

namespace {

const unsigned long DEFAULT_RECEIVE_TIMEOUT_MS = 30000;
const unsigned long DEFAULT_SEND_WINDOW_MS = 30000;
// Longest single wait for a writable socket: a client that reads slowly but
// steadily frees room that no wake-up reports until much more is free.
const int SEND_RETRY_MS = 1000;
const uint64_t SENDFILE_PIECE = 1 << 24;

const char CONTINUE_LINE[] = "HTTP/1.1 100 Continue\r\n\r\n";

[[noreturn]] void fail(int err, int id, const char* message)
{
    errno = err;
    throw WSocketException(message, id);
}

[[noreturn]] void failWrite(int err)
{
    fail(err, -3, "Cannot write into socket.");
}

} // namespace

int64_t ClientConnection::monotonicMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

ClientConnection::ClientConnection()
    : fd(-1), pendingOffset(0), receiveTimeoutMs(DEFAULT_RECEIVE_TIMEOUT_MS), bodyDeadline(0), bodyStalled(false),
      sendWindowMs(DEFAULT_SEND_WINDOW_MS), expectContinue(false), windowStart(0), windowBytes(0), cut(false),
      handoff(nullptr)
{
}

ClientConnection::ClientConnection(int socket) : ClientConnection()
{
    int flags = fcntl(socket, F_GETFL);
    if (flags != -1 && !(flags & O_NONBLOCK)) fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    attach(socket, nullptr, 0);
}

ClientConnection::~ClientConnection()
{
    close();
}

void ClientConnection::attach(int socket, const char* data, size_t n)
{
    close();
    fd = socket;
    pending.assign(data ? data : "", n);
    pendingOffset = 0;
    receiveTimeoutMs = DEFAULT_RECEIVE_TIMEOUT_MS;
    bodyDeadline = 0;
    bodyStalled = false;
    sendWindowMs = DEFAULT_SEND_WINDOW_MS;
    expectContinue = false;
    windowStart = 0;
    windowBytes = 0;
    cut = false;
    handoff = nullptr;
    decoder.reset();
    decoded.clear();
}

int ClientConnection::detach()
{
    int s = fd;
    fd = -1;
    return s;
}

void ClientConnection::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void ClientConnection::connect()
{
    fail(EISCONN, -2, "Cannot connect.");
}

void ClientConnection::sendContinue()
{
    expectContinue = false;
    // The socket's buffer is empty at this point: the line fits at once.
    ssize_t r;
    do {
        r = ::send(fd, CONTINUE_LINE, sizeof CONTINUE_LINE - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
}

void ClientConnection::waitReadable()
{
    if (bodyStalled) fail(ETIMEDOUT, -5, "Read timeout");
    if (expectContinue) sendContinue();
    for (;;) {
        int64_t wait = (int64_t)receiveTimeoutMs;
        if (bodyDeadline != 0) {
            int64_t left = bodyDeadline - monotonicMs();
            if (left <= 0) fail(ETIMEDOUT, -5, "Read timeout");
            if (left < wait) wait = left;
        }
        struct pollfd p = {fd, POLLIN | POLLRDHUP, 0};
        int r = ::poll(&p, 1, (int)wait);
        if (r > 0) return;
        if (r == 0) fail(ETIMEDOUT, -5, "Read timeout");
        if (errno != EINTR) fail(errno, -6, "Connection was closed.");
    }
}

int ClientConnection::read(void* buffer, unsigned long length, bool peek)
{
    if (length == 0) return 0;
    if (pendingOffset < pending.size()) {
        size_t n = pending.size() - pendingOffset;
        if (n > length) n = length;
        memcpy(buffer, pending.data() + pendingOffset, n);
        if (!peek) {
            pendingOffset += n;
            if (pendingOffset == pending.size()) {
                pending.clear();
                pendingOffset = 0;
            }
        }
        return (int)n;
    }
    if (decoder.status() == ChunkedDecoder::Status::Done) return 0; // the decoded body was the whole body
    if (fd < 0) fail(EBADF, -6, "Connection was closed.");
    // Body bytes that come after the body's time are not taken.
    if (bodyStalled || (bodyDeadline != 0 && monotonicMs() >= bodyDeadline)) fail(ETIMEDOUT, -5, "Read timeout");
    for (;;) {
        ssize_t r = ::recv(fd, buffer, length, peek ? MSG_PEEK : 0);
        if (r > 0) return (int)r;
        if (r == 0) fail(0, -6, "Connection was closed.");
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) fail(errno, -6, "Connection was closed.");
        waitReadable();
    }
}

bool ClientConnection::readln(WString& line)
{
    line.clear();
    char c;
    for (;;) {
        try {
            if (read(&c, 1, false) != 1) return line.length() > 0;
        } catch (WSocketException& e) {
            if (e.getId() == -6) return line.length() > 0;
            throw;
        }
        if (c == '\n') return true;
        if (c != '\r') line.append((int)(unsigned char)c);
    }
}

bool ClientConnection::decodeChunkedBody(size_t maxBytes)
{
    decoder.reset();
    decoded.clear();
    char buffer[16384];
    for (;;) {
        int n;
        try {
            n = read(buffer, sizeof buffer, false);
        } catch (WSocketException&) {
            return false;
        }
        if (n <= 0) return false;
        size_t used = 0;
        ChunkedDecoder::Status s = decoder.feed(buffer, (size_t)n, used, decoded);
        if (s == ChunkedDecoder::Status::Error || decoded.size() > maxBytes) return false;
        if (s == ChunkedDecoder::Status::Done) break;
    }
    // What follows the body is no request of this connection: dropped.
    pending.swap(decoded);
    pendingOffset = 0;
    decoded.clear();
    return true;
}

void ClientConnection::waitWritable()
{
    int64_t now = monotonicMs();
    if (windowStart == 0) {
        windowStart = now;
        windowBytes = 0;
    }
    int64_t end = windowStart + (int64_t)sendWindowMs;
    if (now >= end) {
        if (windowBytes < MIN_SEND_PROGRESS) {
            cut = true;
            failWrite(ETIMEDOUT);
        }
        windowStart = now;
        windowBytes = 0;
        end = now + (int64_t)sendWindowMs;
    }
    int64_t wait = end - now;
    int64_t retry = (int64_t)sendWindowMs / 4;
    if (retry > SEND_RETRY_MS) retry = SEND_RETRY_MS;
    if (wait > retry) wait = retry;
    struct pollfd p = {fd, POLLOUT, 0};
    ::poll(&p, 1, (int)wait);
}

void ClientConnection::write(const char* text)
{
    write(text, (unsigned long)strlen(text));
}

void ClientConnection::write(const WString& text)
{
    write(text.getBuf(), text.length());
}

void ClientConnection::writeln(const char* text)
{
    write(text);
    write("\n", 1);
}

void ClientConnection::writeln(const WString& text)
{
    writeln(text.getBuf());
}

void ClientConnection::write(const void* data, unsigned long length)
{
    write(data, length, nullptr, 0);
}

void ClientConnection::write(const void* first, size_t firstLength, const void* second, size_t secondLength)
{
    if (fd < 0) failWrite(EBADF);
    struct iovec parts[2] = {{const_cast<void*>(first), firstLength}, {const_cast<void*>(second), secondLength}};
    struct iovec* part = parts;
    int count = secondLength > 0 ? 2 : 1;
    while (count > 0) {
        if (part->iov_len == 0) {
            ++part;
            --count;
            continue;
        }
        ssize_t r;
        if (count == 1) {
            r = ::send(fd, part->iov_base, part->iov_len, MSG_NOSIGNAL | MSG_DONTWAIT);
        } else {
            struct msghdr message = {};
            message.msg_iov = part;
            message.msg_iovlen = (size_t)count;
            r = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) failWrite(errno);
            waitWritable();
            continue;
        }
        noteSent((size_t)r);
        size_t done = (size_t)r;
        while (count > 0 && done >= part->iov_len) {
            done -= part->iov_len;
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<char*>(part->iov_base) + done;
            part->iov_len -= done;
        }
    }
}

bool ClientConnection::canSendFile() const
{
    return fd >= 0;
}

uint64_t ClientConnection::sendFile(int fileFd, uint64_t offset, uint64_t count, const char* path, bool& handedOff)
{
    handedOff = false;
    off_t position = (off_t)offset;
    uint64_t sent = 0;
    while (sent < count) {
        uint64_t n = count - sent;
        ssize_t r = ::sendfile(fd, fileFd, &position, (size_t)(n < SENDFILE_PIECE ? n : SENDFILE_PIECE));
        if (r > 0) {
            sent += (uint64_t)r;
            noteSent((size_t)r);
            continue;
        }
        if (r == 0) break; // the file ended early
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) failWrite(errno);
        // The socket is full: the rest goes to the server thread, which waits
        // for many clients at once; the worker is free at once.
        if (handoff != nullptr) {
            if (handoff->takeFileSend(*this, fileFd, (uint64_t)position, count - sent, path)) {
                handedOff = true;
                return sent;
            }
        }
        waitWritable();
    }
    return sent;
}

bool ClientConnection::socketInputWaiting() const
{
    if (fd < 0) return false;
    char c;
    ssize_t n;
    do {
        n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

void ClientConnection::abortOnClose(int socket)
{
    struct linger hard = {1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

bool ClientConnection::shutdownSend()
{
    return fd >= 0 && ::shutdown(fd, SHUT_WR) == 0;
}
