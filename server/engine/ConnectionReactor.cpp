#include "ConnectionReactor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include "BodyFraming.h"
#include "CGIExecutor.h"
#include "ClientConnection.h"
#include "FrontEnd.h"
#include "HTTPRequest.h"
#include "WException.h"
#include "WIPAddress.h"
#include "WSocketUtils.h"
#include "ZorvaneControl.h"

namespace {

// Tags of the two descriptors in the event set that are no connection.
char listenTag;
char wakeTag;

const int MAX_EVENTS = 256;
// Connections accepted per turn before the others get their turn.
const int ACCEPT_BATCH = 64;
// Deadlines are looked at this often, and a paused listener retried.
const int SWEEP_MS = 100;
const int PAUSE_MS = 200;
// File bytes sent per turn to one client.
const uint64_t SEND_PIECE = 1 << 20;
// A client that reads slowly is tried this often even without a wake-up.
const int64_t SEND_RETRY_MS = 1000;
// Connection objects kept for reuse, and the buffer sizes they may keep.
const size_t POOL_LIMIT = 256;
const unsigned long KEPT_HEAD_BYTES = 16384;
const size_t KEPT_BODY_BYTES = 16384;

const char CONTINUE_LINE[] = "HTTP/1.1 100 Continue\r\n\r\n";

unsigned long initialBodyTimeLimit()
{
    const char* text = getenv("ZORVANE_BODY_TIMEOUT_MS");
    if (text && *text) {
        char* end = nullptr;
        unsigned long ms = strtoul(text, &end, 10);
        if (end && *end == '\0' && ms > 0) return ms;
    }
    // PHP's max_input_time as shipped, and the time CGI programs get.
    return 60000;
}

std::atomic<unsigned long> g_bodyTimeLimitMs {initialBodyTimeLimit()};

// The body's time in all: the server's limit, or the CGI programs' when
// that is shorter (it is the same by default).
int64_t bodyTimeLimit()
{
    int64_t limit = (int64_t)g_bodyTimeLimitMs.load();
    int64_t cgi = (int64_t)CGIExecutor::getBodyTimeLimit() * 1000;
    return cgi > 0 && cgi < limit ? cgi : limit;
}

int64_t minimum(int64_t a, int64_t b)
{
    return a < b ? a : b;
}

} // namespace

void ConnectionReactor::setBodyTimeLimit(unsigned long milliseconds)
{
    g_bodyTimeLimitMs.store(milliseconds ? milliseconds : 1);
}

unsigned long ConnectionReactor::getBodyTimeLimit()
{
    return g_bodyTimeLimitMs.load();
}

ConnectionReactor::ConnectionReactor(ConnectionQueue& connectionQueue)
    : queue(connectionQueue), control(nullptr), listenFd(-1), epollFd(-1), wakeFd(-1), listening(false),
      resumeListeningAt(0), exhaustionReported(false), maxOpen(1024), openCount(0), receiveTimeoutMs(30000),
      sendWindowMs(30000), running(false)
{
    listenAddress = {};
}

ConnectionReactor::~ConnectionReactor()
{
    close();
    if (wakeFd >= 0) ::close(wakeFd);
    for (PendingConnection* c : pool)
        delete c;
}

void ConnectionReactor::setTimeouts(unsigned long receiveMs, unsigned long windowMs)
{
    receiveTimeoutMs = receiveMs;
    sendWindowMs = windowMs;
}

void ConnectionReactor::open(int listener, ZorvaneControl* owner, int loops)
{
    control = owner;
    listenFd = listener;
    if (wakeFd.load() < 0) {
        int made = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (made < 0) throw WException("Cannot create new thread.", -1);
        wakeFd.store(made);
    }
    epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0) throw WException("Cannot create new thread.", -1);
    int flags = fcntl(listenFd, F_GETFL);
    if (flags != -1) fcntl(listenFd, F_SETFL, flags | O_NONBLOCK);
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.ptr = &wakeTag;
    epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &ev);
    listening = false;
    setListening(true);
    socklen_t size = sizeof listenAddress;
    if (getsockname(listenFd, reinterpret_cast<sockaddr*>(&listenAddress), &size) != 0)
        listenAddress.sin_addr.s_addr = 0;
    resumeListeningAt = 0;
    exhaustionReported = false;
    struct rlimit limit;
    maxOpen = 1024;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) maxOpen = (long)limit.rlim_cur;
    maxOpen = maxOpen > 2 * RESERVED_DESCRIPTORS ? maxOpen - RESERVED_DESCRIPTORS : maxOpen / 2;
    if (loops > 1) maxOpen /= loops;
    std::lock_guard<std::mutex> guard(returnsLock);
    running = true;
}

void ConnectionReactor::getLocalAddress(int fd, sockaddr_in& out) const
{
    if (listenAddress.sin_addr.s_addr != 0) {
        out = listenAddress;
        return;
    }
    socklen_t size = sizeof out;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&out), &size) != 0) out = listenAddress;
}

void ConnectionReactor::wake()
{
    int fd = wakeFd.load();
    if (fd >= 0) {
        uint64_t one = 1;
        ssize_t r = ::write(fd, &one, sizeof one);
        (void)r;
    }
}

PendingConnection* ConnectionReactor::allocate()
{
    {
        std::lock_guard<std::mutex> guard(poolLock);
        if (!pool.empty()) {
            PendingConnection* c = pool.back();
            pool.pop_back();

            return c;
        }
    }
    return new PendingConnection();
}

void ConnectionReactor::release(PendingConnection* c)
{
    if (c->fileFd >= 0) {
        ::close(c->fileFd);
        c->fileFd = -1;
    }
    ::close(c->fd);
    openCount--;
    recycle(c);
}

void ConnectionReactor::recycle(PendingConnection* c)
{
    c->fd = -1;
    c->registered = false;
    c->armed = false;
    c->path.clear();
    // Objects that grew for a large head or body are not kept: the pool
    // keeps only what common requests need.
    bool large = c->raw.getBufLength() > KEPT_HEAD_BYTES || c->extra.capacity() > KEPT_BODY_BYTES;
    if (!large) {
        std::lock_guard<std::mutex> guard(poolLock);
        if (pool.size() < POOL_LIMIT) {
            pool.push_back(c);
            return;
        }
    }
    delete c;
}

void ConnectionReactor::addActive(PendingConnection* c)
{
    c->activeIndex = active.size();
    active.push_back(c);
}

void ConnectionReactor::removeActive(PendingConnection* c)
{
    size_t i = c->activeIndex;
    if (i >= active.size() || active[i] != c) return;
    active[i] = active.back();
    active[i]->activeIndex = i;
    active.pop_back();
    c->activeIndex = (size_t)-1;
}

void ConnectionReactor::arm(PendingConnection* c, uint32_t events)
{
    struct epoll_event ev = {};
    ev.events = events | EPOLLONESHOT;
    ev.data.ptr = c;
    if (c->registered) {
        epoll_ctl(epollFd, EPOLL_CTL_MOD, c->fd, &ev);
    } else if (epoll_ctl(epollFd, EPOLL_CTL_ADD, c->fd, &ev) == 0) {
        c->registered = true;
    }
    c->armed = true;
}

// A registration whose one event has fired reports nothing more; one still
// armed would report the client's hang-up to a connection a worker holds
// (hang-ups are reported whatever the mask says), so it goes.
void ConnectionReactor::disarm(PendingConnection* c)
{
    if (c->armed) {
        epoll_ctl(epollFd, EPOLL_CTL_DEL, c->fd, nullptr);
        c->registered = false;
        c->armed = false;
    }
}

void ConnectionReactor::setListening(bool on)
{
    if (on == listening) return;
    if (on) {
        struct epoll_event ev = {};
        ev.events = EPOLLIN;
        ev.data.ptr = &listenTag;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &ev);
    } else {
        epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
    }
    listening = on;
}

void ConnectionReactor::closeConnection(PendingConnection* c)
{
    removeActive(c);
    if (c->fileFd >= 0) {
        ::close(c->fileFd);
        c->fileFd = -1;
    }
    ::close(c->fd);
    openCount--;
    recycle(c);
    if (!listening && resumeListeningAt == 0 && openCount.load() < maxOpen) setListening(true);
}

void ConnectionReactor::run(const std::atomic<bool>& stop)
{
    struct epoll_event events[MAX_EVENTS];
    int64_t nextSweep = ClientConnection::monotonicMs() + SWEEP_MS;
    bool waiting = false;
    while (!stop.load()) {
        int n = ::epoll_wait(epollFd, events, MAX_EVENTS, waiting ? (int)ConnectionQueue::KICK_MS : SWEEP_MS);
        if (n < 0 && errno != EINTR) throw WException("Cannot accept socket.", -9);
        int64_t now = ClientConnection::monotonicMs();
        for (int i = 0; i < n; ++i) {
            void* tag = events[i].data.ptr;
            if (tag == &listenTag) {
                acceptBatch(now);
            } else if (tag == &wakeTag) {
                uint64_t count;
                ssize_t r = ::read(wakeFd, &count, sizeof count);
                (void)r;
                takeReturns(now);
            } else {
                PendingConnection* c = static_cast<PendingConnection*>(tag);
                c->armed = false; // one-shot: it fired
                if (c->state == PendingConnection::State::Sending)
                    sendMore(c, now);
                else if (c->state != PendingConnection::State::Queued)
                    readInput(c, now);
            }
        }
        if (stop.load()) break;
        waiting = queue.kick(now);
        if (now >= nextSweep) {
            sweep(now);
            nextSweep = now + SWEEP_MS;
        }
    }
}

void ConnectionReactor::acceptBatch(int64_t now)
{
    for (int i = 0; i < ACCEPT_BATCH; ++i) {
        if (openCount.load() >= maxOpen) {
            // More connections than descriptors to spare: the rest wait in
            // the system's queue until some end.
            setListening(false);
            return;
        }
        struct sockaddr_in peer;
        socklen_t size = sizeof peer;
        int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK) return;
            if (WSocketUtils::isTransientAcceptError(err)) continue;
            if (WSocketUtils::isResourceExhaustion(err)) {
                if (!exhaustionReported && control) {
                    errno = err;
                    control->log(WSocketException("Cannot accept socket.", -9).toString(), -1);
                }
                exhaustionReported = true;
                setListening(false);
                resumeListeningAt = now + PAUSE_MS;
                return;
            }
            errno = err;
            throw WSocketException("Cannot accept socket.", -9);
        }
        exhaustionReported = false;
        openCount++;
        PendingConnection* c = allocate();
        prepare(c, fd, peer, now);
        startConnection(c, now);
    }
}

void ConnectionReactor::prepare(PendingConnection* c, int fd, const sockaddr_in& peer, int64_t now)
{
    c->fd = fd;
    c->owner = this;
    c->peer = peer;
    c->state = PendingConnection::State::Head;
    c->outcome = PendingConnection::Outcome::Request;
    c->collector.reset(c->raw);
    c->extra.clear();
    c->deadline = now + (int64_t)HTTPRequest::getHeaderTimeLimit();
    c->bodyDeadline = 0;
    c->bodyWanted = 0;
    c->bodyless = false;
    c->expectContinue = false;
    c->bodyStalled = false;
    c->registered = false;
    c->armed = false;
    c->fileFd = -1;
    c->activeIndex = (size_t)-1;
    if (control && control->isLogShown(2)) {
        // Formatted on the stack: this runs for every connection.
        char address[INET_ADDRSTRLEN];
        char line[64];
        inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        snprintf(line, sizeof line, "Client connected: %s", address);
        control->log(line, 2);
    }
}

void ConnectionReactor::startConnection(PendingConnection* c, int64_t now)
{
    addActive(c);
    // The request has often arrived together with the connection.
    readInput(c, now);
}

ConnectionReactor::Progress ConnectionReactor::receive(PendingConnection* c, char* buffer, size_t size, int64_t now)
{
    for (;;) {
        ssize_t r = ::recv(c->fd, buffer, size, 0);
        if (r > 0) {
            if (c->state == PendingConnection::State::Head) {
                unsigned long taken = 0;
                if (!c->collector.feed(buffer, (unsigned long)r, taken)) {
                    c->outcome = PendingConnection::Outcome::TooLarge;
                    return Progress::Ready;
                }
                if (c->collector.isFinished()) {
                    c->extra.assign(buffer + taken, (size_t)r - taken);
                    if (!awaitBody(c, now)) return Progress::Ready;
                }
            } else {
                c->extra.append(buffer, (size_t)r);
                if (c->extra.size() >= c->bodyWanted) return Progress::Ready;
                c->deadline = minimum(now + (int64_t)receiveTimeoutMs.load(), c->bodyDeadline);
            }
            if ((size_t)r < size) return Progress::Waiting; // nothing more for now
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Progress::Waiting;
        // The client closed its side (or the connection failed).
        if (c->state == PendingConnection::State::Body)
            return Progress::Ready; // what arrived is the body; the worker sees its end
        c->collector.dropUnfinishedLine();
        // Without a request line there is nothing to answer and nothing to count.
        return r == 0 && c->collector.lineCount() > 0 ? Progress::Ready : Progress::Closed;
    }
}

void ConnectionReactor::readInput(PendingConnection* c, int64_t now)
{
    if (c->state == PendingConnection::State::Linger) {
        for (;;) {
            ssize_t r = ::recv(c->fd, scratch, sizeof scratch, 0);
            if (r > 0 && (size_t)r == sizeof scratch) continue;
            if (r > 0 || (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) break;
            if (r < 0 && errno == EINTR) continue;
            closeConnection(c);
            return;
        }
        arm(c, EPOLLIN);
        return;
    }
    switch (receive(c, scratch, sizeof scratch, now)) {
    case Progress::Ready:
        toWorker(c);
        break;
    case Progress::Waiting:
        arm(c, EPOLLIN);
        break;
    case Progress::Closed:
        closeConnection(c);
        break;
    }
}

bool ConnectionReactor::awaitBody(PendingConnection* c, int64_t now)
{
    BodyFraming framing = scanBodyFraming(c->raw);
    c->bodyDeadline = now + bodyTimeLimit();
    c->expectContinue = framing.expectContinue;
    c->bodyless = !framing.chunked && !framing.unusual && framing.contentLength <= 0;
    if (framing.chunked || framing.unusual || framing.contentLength <= 0) return false;
    // The body (or its first part) is waited for without a worker, so that a
    // client sending it slowly holds none.
    uint64_t wanted = (uint64_t)framing.contentLength;
    c->bodyWanted = wanted < BODY_PREREAD_LIMIT ? wanted : BODY_PREREAD_LIMIT;
    if (c->extra.size() >= c->bodyWanted) return false;
    c->state = PendingConnection::State::Body;
    c->deadline = minimum(now + (int64_t)receiveTimeoutMs.load(), c->bodyDeadline);
    if (c->expectContinue && c->extra.empty()) {
        ssize_t r = ::send(c->fd, CONTINUE_LINE, sizeof CONTINUE_LINE - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        (void)r;
    }
    c->expectContinue = false;
    return true;
}

void ConnectionReactor::toWorker(PendingConnection* c)
{
    removeActive(c);
    disarm(c);
    c->state = PendingConnection::State::Queued;
    if (quick != nullptr && c->bodyless && c->extra.empty() && c->outcome == PendingConnection::Outcome::Request
        && quick->answerNow(c))
        return;
    queue.push(c, ClientConnection::monotonicMs());
}

void ConnectionReactor::cut(PendingConnection* c)
{
    if (control && isConsoleFrontEnd())
        control->log(WFormattedString("Cannot send file: %s, Connection closed by peer.", c->path.c_str()), 2);
    // What is still queued for the client goes too.
    ClientConnection::abortOnClose(c->fd);
    closeConnection(c);
}

void ConnectionReactor::sendMore(PendingConnection* c, int64_t now)
{
    uint64_t sentNow = 0;
    while (c->remaining > 0) {
        if (sentNow >= SEND_PIECE) {
            // Others get their turn; the socket is still writable.
            arm(c, EPOLLOUT);
            return;
        }
        off_t position = (off_t)c->offset;
        uint64_t n = c->remaining < SEND_PIECE ? c->remaining : SEND_PIECE;
        ssize_t r = ::sendfile(c->fd, c->fileFd, &position, (size_t)n);
        if (r > 0) {
            c->offset += (uint64_t)r;
            c->remaining -= (uint64_t)r;
            c->windowBytes += (uint64_t)r;
            sentNow += (uint64_t)r;
            continue;
        }
        if (r == 0) break; // the file ended early
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            arm(c, EPOLLOUT);
            return;
        }
        cut(c);
        return;
    }
    sendDone(c, now);
}

void ConnectionReactor::sendDone(PendingConnection* c, int64_t now)
{
    ::close(c->fileFd);
    c->fileFd = -1;
    ::shutdown(c->fd, SHUT_WR);
    startLinger(c, now);
}

void ConnectionReactor::startLinger(PendingConnection* c, int64_t now)
{
    removeActive(c);
    c->state = PendingConnection::State::Linger;
    c->deadline = now + LINGER_MS;
    addActive(c);
    readInput(c, now);
}

bool ConnectionReactor::giveBack(PendingConnection* c, Finish how)
{
    {
        std::lock_guard<std::mutex> guard(returnsLock);
        if (!running) return false;
        returns.emplace_back(c, how);
    }
    wake();
    return true;
}

void ConnectionReactor::takeReturns(int64_t now)
{
    {
        std::lock_guard<std::mutex> guard(returnsLock);
        taking.swap(returns);
    }
    for (auto& item : taking) {
        PendingConnection* c = item.first;
        switch (item.second) {
        case Finish::Linger:
            c->activeIndex = (size_t)-1;
            startLinger(c, now);
            break;
        case Finish::Send:
            c->state = PendingConnection::State::Sending;
            c->windowStart = now;
            c->windowBytes = 0;
            c->deadline = now + minimum(SEND_RETRY_MS, (int64_t)sendWindowMs.load() / 4);
            addActive(c);
            sendMore(c, now);
            break;
        }
    }
    taking.clear();
}

void ConnectionReactor::sweep(int64_t now)
{
    if (!listening && resumeListeningAt != 0 && now >= resumeListeningAt) resumeListeningAt = 0;
    if (!listening && resumeListeningAt == 0 && openCount.load() < maxOpen) setListening(true);
    for (size_t i = 0; i < active.size();) {
        PendingConnection* c = active[i];
        if (c->deadline > now) {
            ++i;
            continue;
        }
        switch (c->state) {
        case PendingConnection::State::Head:
            c->outcome = PendingConnection::Outcome::TimedOut;
            toWorker(c);
            break;
        case PendingConnection::State::Body:
            c->bodyStalled = true;
            toWorker(c);
            break;
        case PendingConnection::State::Sending: {
            // The room a slow reader made is used even without a wake-up
            // (which comes only once much of the queue is free).
            sendMore(c, now);
            if (i >= active.size() || active[i] != c) break; // done, or failed
            int64_t window = (int64_t)sendWindowMs.load();
            if (now >= c->windowStart + window) {
                if (c->windowBytes < ClientConnection::MIN_SEND_PROGRESS) {
                    cut(c);
                    break;
                }
                c->windowStart = now;
                c->windowBytes = 0;
            }
            c->deadline = minimum(now + minimum(SEND_RETRY_MS, window / 4), c->windowStart + window);
            ++i;
            continue;
        }
        default:
            closeConnection(c);
            break;
        }
        // The connection left the list: the same index holds another one now.
    }
}

void ConnectionReactor::close()
{
    {
        std::lock_guard<std::mutex> guard(returnsLock);
        running = false;
        taking.swap(returns);
    }
    for (auto& item : taking) {
        PendingConnection* c = item.first;
        c->activeIndex = (size_t)-1;
        if (c->fileFd >= 0) {
            ::close(c->fileFd);
            c->fileFd = -1;
        }
        ::close(c->fd);
        openCount--;
        recycle(c);
    }
    taking.clear();
    while (!active.empty())
        closeConnection(active.back());
    std::vector<PendingConnection*> waiting;
    queue.drain(waiting);
    for (PendingConnection* c : waiting) {
        // The queue is shared: the connection may be another loop's.
        ConnectionReactor* owner = c->owner != nullptr ? c->owner : this;
        ::close(c->fd);
        owner->openCount--;
        owner->recycle(c);
    }
    if (epollFd >= 0) {
        ::close(epollFd);
        epollFd = -1;
    }
}
