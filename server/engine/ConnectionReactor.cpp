#include "ConnectionReactor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ClientConnection.h"
#include "FrontEnd.h"
#include "HTTPRequest.h"
#include "SmallFileCache.h"
#include "TemporaryFile.h"
#include "WException.h"
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
// A client that reads slowly is tried this often even without a wake-up
// (which comes only once much of its socket's buffer is free).
const int64_t SEND_RETRY_MS = 1000;
// Connection objects kept for reuse, and the buffer sizes they may keep.
const size_t POOL_LIMIT = 256;
// After this many connections have ended, freed memory goes back to the system,
// at most once in this time: a trim walks every allocator arena, and memory
// given back while connections keep coming is only taken again.
const long TRIM_AFTER_CLOSES = 1024;
const int64_t TRIM_EVERY_MS = 1000;

const char CONTINUE_LINE[] = "HTTP/1.1 100 Continue\r\n\r\n";
// A client whose end of input comes this soon after its request shut its
// sending side with the request (as `nc -N` does): it still waits for the
// answer. Later, the client has left.
const int64_t HALF_CLOSE_MS = 3;
// A connection with a worker is looked at this often while its script is
// silent (it stays in the list of timed connections, so that a stop finds it).
const int64_t SCRIPT_CHECK_MS = 60 * 60 * 1000;

unsigned long initialBodyWindow()
{
    const char* text = getenv("ZORVANE_BODY_TIMEOUT_MS");
    if (text && *text) {
        char* end = nullptr;
        unsigned long ms = strtoul(text, &end, 10);
        if (end && *end == '\0' && ms > 0) return ms;
    }
    return 0;
}

// 0: the receive window.
std::atomic<unsigned long> g_bodyWindowMs {initialBodyWindow()};

int64_t monotonicMicros()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

int64_t minimum(int64_t a, int64_t b)
{
    return a < b ? a : b;
}

std::atomic<long> g_closedSinceTrim {0};
std::atomic<int64_t> g_lastTrimMs {0};

} // namespace

void PendingConnection::outputReady()
{
    owner->notify(this, ConnectionReactor::Note::Output);
}

void PendingConnection::workerDone()
{
    owner->notify(this, ConnectionReactor::Note::Done);
}

void ConnectionReactor::setBodyTimeLimit(unsigned long milliseconds)
{
    g_bodyWindowMs.store(milliseconds);
}

unsigned long ConnectionReactor::getBodyTimeLimit()
{
    return g_bodyWindowMs.load();
}

ConnectionReactor::ConnectionReactor(ConnectionQueue& connectionQueue)
    : queue(connectionQueue), control(nullptr), listenFd(-1), epollFd(-1), wakeFd(-1), listening(false),
      resumeListeningAt(0), openCount(0), receiveTimeoutMs(30000),
      sendWindowMs(30000), withWorkers(0), running(false)
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

void ConnectionReactor::open(int listener, ZorvaneControl* owner, ConnectionBudget* shared)
{
    budget = shared != nullptr ? shared : &ownBudget;
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
    accepting = true;
    setListening(true);
    socklen_t size = sizeof listenAddress;
    if (getsockname(listenFd, reinterpret_cast<sockaddr*>(&listenAddress), &size) != 0)
        listenAddress.sin_addr.s_addr = 0;
    resumeListeningAt = 0;
    struct rlimit limit;
    long most = 1024;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) most = (long)limit.rlim_cur;
    budget->limit = most > 2 * RESERVED_DESCRIPTORS ? most - RESERVED_DESCRIPTORS : most / 2;
    {
        std::lock_guard<std::mutex> guard(notesLock);
        running = true;
    }
    // Workers of the last run may have given connections back since.
    takeNotes(ClientConnection::monotonicMs());
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

// ------------------------------------------------------------------ the loop

void ConnectionReactor::run(const std::atomic<bool>& stop, unsigned long drainMs)
{
    SmallFileCache::enableForThisThread();
    struct epoll_event events[MAX_EVENTS];
    int64_t nextSweep = ClientConnection::monotonicMs() + SWEEP_MS;
    int64_t drainUntil = 0;
    bool waiting = false;
    for (;;) {
        if (stop.load()) {
            if (drainUntil == 0) {
                // No new connections, and requests that no worker took yet
                // are refused; the answers of running scripts may still go
                // out for a short while.
                stopAccepting();
                std::vector<ScriptJob*> queued;
                queue.drain(queued);
                for (ScriptJob* job : queued) {
                    auto* c = static_cast<PendingConnection*>(job);
                    c->owner->notify(c, Note::Refuse);
                }
                drainUntil = ClientConnection::monotonicMs() + (int64_t)drainMs;
            }
            if (!answersRunning() || ClientConnection::monotonicMs() >= drainUntil) break;
        }
        int timeout = waiting ? (int)ConnectionQueue::KICK_MS : SWEEP_MS;
        int64_t looking = monotonicMicros();
        int n = ::epoll_wait(epollFd, events, MAX_EVENTS, timeout);
        if (n < 0 && errno != EINTR) throw WException("Cannot accept socket.", -9);
        int64_t now = ClientConnection::monotonicMs();
        ++turn;
        // Unless the wait slept, what it reports was there before the loop looked.
        turnWaited = monotonicMicros() - looking > 200;
        for (int i = 0; i < n; ++i) {
            void* tag = events[i].data.ptr;
            if (tag == &listenTag) {
                acceptBatch(now);
            } else if (tag == &wakeTag) {
                uint64_t count;
                ssize_t r = ::read(wakeFd, &count, sizeof count);
                (void)r;
                takeNotes(now);
            } else {
                auto* t = static_cast<PendingConnection::Tag*>(tag);
                PendingConnection* c = t->connection;
                try {
                    if (t->kind == PendingConnection::Tag::Kind::Program) {
                        programReady(c, (CGIProcess::Pipe)t->pipe, now);
                        continue;
                    }
                    c->armed = false; // one-shot: it fired
                    switch (c->state) {
                    case PendingConnection::State::Head:
                    case PendingConnection::State::Body:
                    case PendingConnection::State::Linger:
                        readInput(c, now);
                        break;
                    case PendingConnection::State::Running:
                        if (events[i].events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
                            inputEnded(c, events[i].events, now);
                            if (c->state != PendingConnection::State::Running) break;
                        }
                        sendOutput(c, now);
                        break;
                    case PendingConnection::State::Sending:
                        sendOutput(c, now);
                        break;
                    default:
                        break;
                    }
                } catch (...) {
                    outOfMemory(c, now);
                }
            }
        }
        waiting = queue.kick(now);
        if (now >= nextSweep) {
            sweep(now);
            nextSweep = now + SWEEP_MS;
        }
        recycleClosed();
    }
    recycleClosed();
}

// ------------------------------------------------- the life of a connection

// The one place a connection changes state. Its life: Head (the header block
// comes), then Body (a script's body comes) and Running (its job is queued,
// runs, or the loop carries its CGI program), or straight to Sending (the
// loop answers); then Linger (leftover input is dropped) or Closed. A client
// that leaves while a worker holds its job leaves the object Orphaned until
// the worker gives the job back.
void ConnectionReactor::enter(PendingConnection* c, PendingConnection::State next)
{
    c->state = next;
}

void ConnectionReactor::acceptBatch(int64_t now)
{
    for (int i = 0; i < ACCEPT_BATCH; ++i) {
        if (!roomForMore()) {
            // More connections than descriptors to spare: an idle one makes
            // room, or the rest wait in the system's queue until some end.
            noteShortage(Shortage::OwnLimit, now);
            if (!evictIdlest(now)) {
                setListening(false);
                return;
            }
        }
        struct sockaddr_in peer;
        socklen_t size = sizeof peer;
        int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK) return;
            if (WSocketUtils::isTransientAcceptError(err)) continue;
            if (WSocketUtils::isResourceExhaustion(err)) {
                errno = err;
                noteShortage(Shortage::System, now);
                if (evictIdlest(now)) continue;
                setListening(false);
                resumeListeningAt = now + PAUSE_MS;
                return;
            }
            errno = err;
            throw WSocketException("Cannot accept socket.", -9);
        }
        openCount++;
        budget->open++;
        PendingConnection* c = nullptr;
        try {
            c = allocate();
            startConnection(c, fd, peer, now);
        } catch (...) {
            if (c == nullptr) {
                // No object for it: the connection ends before it began.
                ::close(fd);
                openCount--;
                budget->open--;
            }
            outOfMemory(c, now);
        }
    }
}

void ConnectionReactor::startConnection(PendingConnection* c, int fd, const sockaddr_in& peer, int64_t now)
{
    c->fd = fd;
    c->owner = this;
    c->peer = peer;
    enter(c, PendingConnection::State::Head);
    c->outcome = PendingConnection::Outcome::Request;
    c->route = PendingConnection::Route::Loop;
    c->collector.reset(*c->raw);
    c->extra.clear();
    c->registered = false;
    c->armed = false;
    c->inputDone = false;
    c->clientCloses = false;
    c->acksAtOnce = false;
    c->halfClosed = false;
    c->withWorker = false;
    c->aborted = false;
    c->activeIndex = (size_t)-1;
    c->lastInputAt = now;
    c->windowStart = 0;
    c->windowBytes = 0;
    if (control && control->isLogShown(2)) {
        // Formatted on the stack: this runs for every connection.
        char address[INET_ADDRSTRLEN];
        char line[64];
        inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        snprintf(line, sizeof line, "Client connected: %s", address);
        control->log(line, 2);
    }
    setDeadline(c, now + (int64_t)HTTPRequest::getHeaderTimeLimit());
    // The request has usually arrived together with the connection.
    readInput(c, now);
    if (c->state == PendingConnection::State::Head && c->raw->length() == 0) {
        // Nothing yet: the system held the silent connection back for the
        // deferral, which counts towards the header time limit.
        int64_t held = (int64_t)ACCEPT_DEFER_SECONDS * 1000;
        setDeadline(c, std::max(now, c->deadline - held));
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
    if (c->state == PendingConnection::State::Body) {
        for (;;) {
            ssize_t r = ::recv(c->fd, scratch, sizeof scratch, 0);
            if (r > 0) {
                c->windowBytes += (uint64_t)r;
                if (!takeBody(c, scratch, (size_t)r, now)) return;
                if (c->inputDone) {
                    bodyDone(c, now);
                    return;
                }
                if ((size_t)r < sizeof scratch) break;
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            // The client ended before its body did: nobody waits for an answer.
            closeConnection(c);
            return;
        }
        awaitInput(c);
        return;
    }
    switch (receiveHead(c, now)) {
    case Progress::Ready:
        headDone(c, now);
        break;
    case Progress::Waiting:
        awaitInput(c);
        break;
    case Progress::Closed:
        closeConnection(c);
        break;
    }
}

// More of the request is to come. Connections start out acknowledging late
// (see the listening socket's set-up); a client that holds its next small
// piece until the last one is acknowledged (Nagle's algorithm) would then
// wait for the delayed acknowledgement each time. From here on the socket
// acknowledges at once.
void ConnectionReactor::awaitInput(PendingConnection* c)
{
    if (!c->acksAtOnce) {
        int atOnce = 1;
        setsockopt(c->fd, IPPROTO_TCP, TCP_QUICKACK, &atOnce, sizeof atOnce);
        c->acksAtOnce = true;
    }
    arm(c, EPOLLIN);
}

ConnectionReactor::Progress ConnectionReactor::receiveHead(PendingConnection* c, int64_t now)
{
    for (;;) {
        ssize_t r = ::recv(c->fd, scratch, sizeof scratch, 0);
        if (r > 0) {
            c->lastInputAt = now;
            unsigned long taken = 0;
            if (!c->collector.feed(scratch, (unsigned long)r, taken)) {
                c->outcome = PendingConnection::Outcome::TooLarge;
                return Progress::Ready;
            }
            if (c->collector.isFinished()) {
                // What came with the head may be the start of a body.
                c->extra.assign(scratch + taken, (size_t)r - taken);
                return Progress::Ready;
            }
            if ((size_t)r < sizeof scratch) return Progress::Waiting; // nothing more for now
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Progress::Waiting;
        // The client closed its side (or the connection failed).
        c->collector.dropUnfinishedLine();
        // Without a request line there is nothing to answer and nothing to count.
        return r == 0 && c->collector.lineCount() > 0 ? Progress::Ready : Progress::Closed;
    }
}

// The head is complete (or ended by a limit): the request is parsed and
// routed once, here. Everything but a script run is answered right away.
void ConnectionReactor::headDone(PendingConnection* c, int64_t now)
{
    clearDeadline(c);
    disarm(c);
    enter(c, PendingConnection::State::Sending);
    sockaddr_in local = listenAddress;
    if (local.sin_addr.s_addr == 0) {
        socklen_t size = sizeof local;
        if (getsockname(c->fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) local = listenAddress;
    }
    const BodyFraming framing = handler.begin(*c, local.sin_addr.s_addr, ntohs(local.sin_port));
    c->clientCloses = framing.clientCloses;
    c->releaseLargeHead();
    if (c->route == PendingConnection::Route::Loop) {
        c->inputDone = c->outcome == PendingConnection::Outcome::Request && !framing.chunked
            && framing.contentLength == 0 && !framing.unusual && c->extra.empty();
        std::string().swap(c->extra); // a body nobody reads is not kept
        sendOutput(c, now);
        return;
    }
    c->chunked = framing.chunked;
    c->expectContinue = framing.expectContinue;
    c->bodyWanted = framing.chunked ? 0 : (uint64_t)framing.contentLength;
    if (!framing.chunked && c->bodyWanted > c->bodyLimit) {
        refuse(c, now, 413, WFormattedString("Max. %llu Bytes", (unsigned long long)c->bodyLimit));
        return;
    }
    startBody(c, now);
}

// A script's body is read whole before the script starts: in memory while
// small, then in a temporary file. The client must keep it moving.
void ConnectionReactor::startBody(PendingConnection* c, int64_t now)
{
    enter(c, PendingConnection::State::Body);
    c->body.reset();
    c->decoder.reset();
    c->decoded.clear();
    c->inputDone = !c->chunked && c->bodyWanted == 0;
    std::string first;
    first.swap(c->extra);
    if (!first.empty() && !takeBody(c, first.data(), first.size(), now)) return;
    if (c->inputDone) {
        bodyDone(c, now);
        return;
    }
    if (first.empty() && c->expectContinue) {
        ssize_t r = ::send(c->fd, CONTINUE_LINE, sizeof CONTINUE_LINE - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        (void)r;
        // Sending may put the socket back to acknowledging late.
        c->acksAtOnce = false;
    }
    c->windowStart = now;
    c->windowBytes = 0;
    setDeadline(c, now + SWEEP_MS);
    readInput(c, now);
}

// False when the connection ended (a malformed or too large body).
bool ConnectionReactor::takeBody(PendingConnection* c, const char* data, size_t length, int64_t now)
{
    if (c->chunked) {
        size_t used = 0;
        c->decoded.clear();
        ChunkedDecoder::Status s = c->decoder.feed(data, length, used, c->decoded);
        if (s == ChunkedDecoder::Status::Error) {
            HTTPHeaderException e("Invalid chunked body.");
            if (control) control->onException(e);
            refuse(c, now, 400, e.getMessage());
            return false;
        }
        if (c->body.size() + c->decoded.size() > c->bodyLimit) {
            refuse(c, now, 413, WFormattedString("Max. %llu Bytes", (unsigned long long)c->bodyLimit));
            return false;
        }
        if (!c->body.append(c->decoded.data(), c->decoded.size())) {
            bodyNotStored(c, now);
            return false;
        }
        // What follows the body is no request of this connection: dropped.
        c->inputDone = s == ChunkedDecoder::Status::Done;
        return true;
    }
    uint64_t left = c->bodyWanted - c->body.size();
    size_t n = length < left ? length : (size_t)left;
    if (!c->body.append(data, n)) {
        bodyNotStored(c, now);
        return false;
    }
    c->inputDone = c->body.size() == c->bodyWanted;
    return true;
}

// The body could not be kept: past the cap on temporary space the server
// is busy (503, the client may try again); otherwise it is a fault (500).
void ConnectionReactor::bodyNotStored(PendingConnection* c, int64_t now)
{
    bool full = errno == EDQUOT;
    WException e(full ? "No room for the request body now: the temporary space limit is reached."
                      : "Cannot store the request body.",
        -1);
    if (ZorvaneControl* log = handler.getControl()) log->onException(e);
    refuse(c, now, full ? 503 : 500, e.getMessage());
}

void ConnectionReactor::bodyDone(PendingConnection* c, int64_t now)
{
    (void)now;
    clearDeadline(c);
    disarm(c);
    // Scripts read a body of known length.
    if (c->chunked) c->request->contentLength = (int)c->body.size();
    c->decoded.clear();
    c->decoded.shrink_to_fit();
    toWorker(c);
}

void ConnectionReactor::toWorker(PendingConnection* c)
{
    // Queued or served, it is the same to the loop: it sends what comes, and
    // watches for the client to leave.
    int64_t now = ClientConnection::monotonicMs();
    enter(c, PendingConnection::State::Running);
    c->windowStart = 0;
    c->handedOver = now;
    c->handedOverTurn = turn;
    char byte;
    c->halfClosed = ::recv(c->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    arm(c, leaveEvents(c));
    setDeadline(c, now + SCRIPT_CHECK_MS);
    // A push that fails for want of memory leaves the job the loop's.
    queue.push(c, now);
    ++withWorkers;
    c->withWorker = true;
}

uint32_t ConnectionReactor::leaveEvents(const PendingConnection* c) const
{
    return c->state == PendingConnection::State::Running && !c->halfClosed ? (uint32_t)EPOLLRDHUP : 0u;
}

// The client's input ended (or the connection failed) while its script is
// queued or runs. An end that came with the request is a half-close: the
// client still reads. Otherwise it has left: a job not yet started never
// starts, a script's writes fail, a CGI program is ended.
void ConnectionReactor::inputEnded(PendingConnection* c, uint32_t events, int64_t now)
{
    // Already there when the loop first looked again after the hand-over (a
    // slow loop may take a while to look), or arriving right after it.
    bool withRequest = c->halfClosed || (c->handedOverTurn + 1 == turn && !turnWaited)
        || now - c->handedOver <= HALF_CLOSE_MS;
    if (!(events & (EPOLLHUP | EPOLLERR)) && withRequest) {
        c->halfClosed = true;
        arm(c, 0);
        return;
    }
    clientGone(c, "");
}

// Sends what the connection's output queue holds, as far as the client takes
// it in this turn; the rest waits for the socket to take more.
void ConnectionReactor::sendOutput(PendingConnection* c, int64_t now)
{
    uint64_t sent = 0;
    // Once the answer is made (on the loop, or the worker is done) the
    // connection ends as soon as it has gone out.
    OutputQueue::Answer answer = c->state == PendingConnection::State::Sending ? OutputQueue::Answer::Complete
                                                                               : OutputQueue::Answer::Open;
    OutputQueue::Flush result = c->output.flush(c->fd, SEND_PIECE, sent, answer);
    c->windowBytes += sent;
    if (c->state == PendingConnection::State::Running) {
        ZorvaneControl* log = handler.getControl();
        if (int err = c->output.takeSpillError(); err != 0 && log != nullptr)
            log->log(WFormattedString("Cannot write a temporary file for the answer (%s): it waits for the client "
                                          "in memory.",
                             temporaryFileProblem(err)),
                -1);
        if (c->carriesProgram() && c->program->resume()) syncProgram(c);
    }
    switch (result) {
    case OutputQueue::Flush::Empty:
        if (c->state == PendingConnection::State::Sending && c->output.isFinished()) {
            answerDone(c, now);
            return;
        }
        if (c->state == PendingConnection::State::Sending && c->route == PendingConnection::Route::Loop) {
            // Answered on the loop: nothing more will come.
            answerDone(c, now);
            return;
        }
        // The script is still at work: the window waits for its next output.
        c->windowStart = 0;
        setDeadline(c, now + (c->carriesProgram() ? programCheckMs(c, now) : SCRIPT_CHECK_MS));
        if (!c->armed) arm(c, leaveEvents(c));
        return;
    case OutputQueue::Flush::Blocked:
        if (c->windowStart == 0) {
            c->windowStart = now;
            c->windowBytes = 0;
        }
        if (c->activeIndex == (size_t)-1 || c->deadline > now + SEND_RETRY_MS)
            setDeadline(c, now + minimum(SEND_RETRY_MS, (int64_t)sendWindowMs.load() / 4));
        arm(c, EPOLLOUT | leaveEvents(c));
        return;
    case OutputQueue::Flush::Truncated:
        if (ZorvaneControl* log = handler.getControl())
            log->log(WFormattedString("Cannot send file: %s, file was truncated.", c->output.brokenFile().c_str()), -1);
        clientGone(c, "");
        return;
    case OutputQueue::Flush::Failed:
        clientGone(c, c->output.brokenFile());
        return;
    }
}

// The whole answer is out: what the client still sends is read and dropped
// before the close, so that the close does not reset the answer away. A
// client that said "Connection: close" sends nothing more: no need to look.
void ConnectionReactor::answerDone(PendingConnection* c, int64_t now)
{
    clearDeadline(c);
    c->output.reset();
    char byte;
    bool more = !c->inputDone || (!c->clientCloses && ::recv(c->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0);
    if (!more) {
        closeConnection(c);
        return;
    }
    linger(c, now);
}

void ConnectionReactor::linger(PendingConnection* c, int64_t now)
{
    if (::shutdown(c->fd, SHUT_WR) != 0) {
        closeConnection(c);
        return;
    }
    enter(c, PendingConnection::State::Linger);
    setDeadline(c, now + LINGER_MS);
    readInput(c, now);
}

// The client is gone, or too slow: the connection ends at once, and what
// was queued for it is dropped. A worker still writing fails from now on.
void ConnectionReactor::clientGone(PendingConnection* c, const std::string& file)
{
    if (!file.empty() && isConsoleFrontEnd() && control && control->isLogShown(2))
        control->log(WFormattedString("Cannot send file: %s, Connection closed by peer.", file.c_str()), 2);
    c->aborted = true;
    c->output.kill();
    dropProgram(c);
    ClientConnection::abortOnClose(c->fd);
    if (c->state == PendingConnection::State::Running && c->withWorker) {
        // The worker still holds its job: the object goes when it gives the
        // job back. The socket goes now.
        clearDeadline(c);
        if (c->registered) epoll_ctl(epollFd, EPOLL_CTL_DEL, c->fd, nullptr);
        c->registered = false;
        c->armed = false;
        ::close(c->fd);
        c->fd = -1;
        openCount--;
        budget->open--;
        ++g_closedSinceTrim;
        enter(c, PendingConnection::State::Orphaned);
        return;
    }
    closeConnection(c);
}

// The one place a connection ends.
void ConnectionReactor::closeConnection(PendingConnection* c)
{
    clearDeadline(c);
    dropProgram(c);
    if (c->fd >= 0) {
        // Out of the event set before the close: a process being started at
        // this moment holds a copy of every descriptor until it runs its
        // program, and the registration would outlive the close meanwhile,
        // reporting events to whoever reuses this object.
        if (c->registered) epoll_ctl(epollFd, EPOLL_CTL_DEL, c->fd, nullptr);
        ::close(c->fd);
        c->fd = -1;
        openCount--;
        budget->open--;
        ++g_closedSinceTrim;
    }
    bury(c);
    if (!listening && resumeListeningAt == 0 && roomForMore() && accepting) setListening(true);
}

// An event of this turn may still name the connection: the object is reused
// or freed only once the turn is over.
void ConnectionReactor::bury(PendingConnection* c)
{
    enter(c, PendingConnection::State::Closed);
    closed.push_back(c);
}

void ConnectionReactor::recycleClosed()
{
    for (PendingConnection* c : closed)
        recycle(c);
    closed.clear();
}

// A worker gave the job back (or a stop took it from the queue). True when
// its client left meanwhile: the object goes now, and nothing more is done.
bool ConnectionReactor::jobReturned(PendingConnection* c)
{
    --withWorkers;
    c->withWorker = false;
    if (c->state != PendingConnection::State::Orphaned) return false;
    dropProgram(c);
    bury(c);
    return true;
}

// ------------------------------------------------- a CGI program's pipes

void ConnectionReactor::programReady(PendingConnection* c, CGIProcess::Pipe pipe, int64_t now)
{
    if (!c->carriesProgram() || c->state != PendingConnection::State::Running) return;
    c->program->step(pipe);
    afterProgramStep(c, now);
}

// What the program did reaches the client; once its answer is complete the
// connection goes on as any answered one.
void ConnectionReactor::afterProgramStep(PendingConnection* c, int64_t now)
{
    if (c->program->isDone()) {
        dropProgram(c);
        enter(c, PendingConnection::State::Sending);
        sendOutput(c, now);
        return;
    }
    syncProgram(c);
    sendOutput(c, now);
}

// The event set watches exactly the descriptors the program wants watched.
void ConnectionReactor::syncProgram(PendingConnection* c)
{
    for (int i = 0; i < CGIProcess::PIPE_COUNT; ++i) {
        auto pipe = (CGIProcess::Pipe)i;
        int fd = c->program ? c->program->descriptor(pipe) : -1;
        if (fd == c->programFds[i]) continue;
        // Not wanted now (output paused), still open: the program lets go
        // of a descriptor it closes through forgetProgramFd beforehand.
        if (c->programFds[i] >= 0) epoll_ctl(epollFd, EPOLL_CTL_DEL, c->programFds[i], nullptr);
        c->programFds[i] = -1;
        if (fd < 0) continue;
        struct epoll_event ev = {};
        ev.events = pipe == CGIProcess::Pipe::Input ? EPOLLOUT : EPOLLIN;
        ev.data.ptr = &c->programTags[i];
        if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) == 0) c->programFds[i] = fd;
    }
}

void ConnectionReactor::forgetProgramFd(PendingConnection* c, int fd)
{
    for (int& watched : c->programFds) {
        if (watched != fd) continue;
        epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
        watched = -1;
    }
}

// Ends the program the loop carries (a program that has answered is only
// let go). One that a worker still holds comes back with its job: the
// worker alone touches the job until then.
void ConnectionReactor::dropProgram(PendingConnection* c)
{
    if (c->withWorker) return;
    for (int& fd : c->programFds) {
        if (fd >= 0) epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
        fd = -1;
    }
    if (c->program) {
        c->program->abandon();
        c->program.reset();
    }
}

int64_t ConnectionReactor::programCheckMs(const PendingConnection* c, int64_t now)
{
    int64_t due = (int64_t)(c->program->nextCheck() * 1000) + 1;
    return due > now ? due - now : 1;
}

// ----------------------------------------------------------- from workers

namespace {

const ConnectionReactor::Note NOTE_ORDER[] = {
    ConnectionReactor::Note::Output, ConnectionReactor::Note::Done, ConnectionReactor::Note::Refuse};

unsigned noteBit(ConnectionReactor::Note note)
{
    return 1u << (unsigned)note;
}

} // namespace

void ConnectionReactor::notify(PendingConnection* c, Note note) noexcept
{
    bool first;
    {
        std::lock_guard<std::mutex> guard(notesLock);
        first = notesFirst == nullptr;
        if (c->notes == 0) {
            c->noteNext = nullptr;
            (first ? notesFirst : notesLast->noteNext) = c;
            notesLast = c;
        }
        c->notes |= noteBit(note);
    }
    // A wake-up is on its way already when notes were waiting.
    if (first) wake();
}

PendingConnection* ConnectionReactor::takeNoteList()
{
    std::lock_guard<std::mutex> guard(notesLock);
    PendingConnection* first = notesFirst;
    for (PendingConnection* c = first; c != nullptr; c = c->noteNext) {
        c->takenNotes = c->notes;
        c->takenNext = c->noteNext;
        c->notes = 0;
    }
    notesFirst = notesLast = nullptr;
    return first;
}

void ConnectionReactor::takeNotes(int64_t now)
{
    for (PendingConnection *c = takeNoteList(), *next; c != nullptr; c = next) {
        next = c->takenNext;
        for (Note note : NOTE_ORDER) {
            if (!(c->takenNotes & noteBit(note))) continue;
            try {
                switch (note) {
                case Note::Output:
                    if (c->state == PendingConnection::State::Running) sendOutput(c, now);
                    break;
                case Note::Done:
                    if (jobReturned(c)) break;
                    if (c->program) {
                        // A CGI program runs on: its pipes are this loop's now.
                        c->program->setForget([this, c](int fd) { forgetProgramFd(c, fd); });
                        syncProgram(c);
                        afterProgramStep(c, now);
                        break;
                    }
                    enter(c, PendingConnection::State::Sending);
                    sendOutput(c, now);
                    break;
                case Note::Refuse:
                    if (jobReturned(c)) break;
                    c->request.reset();
                    refuse(c, now, 503, "The server is stopping.");
                    break;
                }
            } catch (...) {
                outOfMemory(c, now);
            }
        }
    }
}

// An error page for a request that gets no further, then the close.
void ConnectionReactor::refuse(PendingConnection* c, int64_t now, unsigned code, const char* message)
{
    clearDeadline(c);
    disarm(c);
    c->route = PendingConnection::Route::Loop;
    enter(c, PendingConnection::State::Sending);
    c->inputDone = false; // the client may still be sending
    handler.refuse(*c, code, message);
    c->request.reset();
    sendOutput(c, now);
}

// Memory ran out while c was served. A request whose answer has not begun
// gets 503; any other connection ends (an answer that began cannot be
// followed by another). The loop and every other connection go on.
void ConnectionReactor::outOfMemory(PendingConnection* c, int64_t now)
{
    try {
        throw;
    } catch (std::bad_alloc&) {
    } catch (WMemoryException&) {
    }
    if (c == nullptr) return;
    using State = PendingConnection::State;
    bool unanswered = c->state == State::Head || c->state == State::Body
        || (c->state == State::Running && !c->withWorker && !c->program);
    try {
        errno = ENOMEM;
        if (ZorvaneControl* log = handler.getControl()) log->onException(WMemoryException("Out of memory.", -2));
    } catch (...) {
    }
    try {
        if (unanswered) {
            refuse(c, now, 503, "Out of memory.");
            return;
        }
    } catch (std::bad_alloc&) {
    } catch (WMemoryException&) {
    }
    try {
        if (c->state != State::Closed && c->state != State::Orphaned) clientGone(c, "");
    } catch (std::bad_alloc&) {
        // Not even that: the connection is left, but no deadline of it
        // comes round again and again.
        clearDeadline(c);
    } catch (WMemoryException&) {
        clearDeadline(c);
    }
}

// ------------------------------------------------------------ deadlines

// Progress windows: a body, or an answer to a client that reads slowly, must
// move at least `needed` bytes within each window.
bool ConnectionReactor::stalled(PendingConnection* c, int64_t now, int64_t window, uint64_t needed)
{
    if (c->windowStart == 0 || now < c->windowStart + window) return false;
    if (c->windowBytes < needed) return true;
    c->windowStart = now;
    c->windowBytes = 0;
    return false;
}

void ConnectionReactor::sweep(int64_t now)
{
    if (!listening && resumeListeningAt != 0 && now >= resumeListeningAt) resumeListeningAt = 0;
    if (!listening && resumeListeningAt == 0 && accepting) {
        // Paused for want of descriptors: a connection that has been idle
        // since makes room, and the queue behind it is taken again.
        if (!roomForMore()) {
            noteShortage(Shortage::OwnLimit, now);
            if (evictIdlest(now)) setListening(true);
        } else {
            setListening(true);
        }
    }
    noteShortageOver(now);
    int64_t lastTrim = g_lastTrimMs.load();
    if (g_closedSinceTrim.load() >= TRIM_AFTER_CLOSES && openCount.load() < 64 && now >= lastTrim + TRIM_EVERY_MS
        && g_lastTrimMs.compare_exchange_strong(lastTrim, now)) {
        // Many connections came and went: their memory goes back.
        g_closedSinceTrim = 0;
        malloc_trim(0);
    }
    for (size_t i = 0; i < active.size();) {
        PendingConnection* c = active[i];
        if (c->deadline > now) {
            ++i;
            continue;
        }
        try {
            switch (c->state) {
            case PendingConnection::State::Head:
                c->outcome = PendingConnection::Outcome::TimedOut;
                headDone(c, now);
                break;
            case PendingConnection::State::Body: {
                unsigned long body = g_bodyWindowMs.load();
                int64_t window = (int64_t)(body ? body : receiveTimeoutMs.load());
                uint64_t left = c->chunked ? MIN_PROGRESS : c->bodyWanted - c->body.size();
                if (stalled(c, now, window, left < MIN_PROGRESS ? left : MIN_PROGRESS)) {
                    refuse(c, now, 408, WFormattedString("Max. %u Seconds", 30u));
                    break;
                }
                c->deadline = now + SWEEP_MS;
                ++i;
                continue;
            }
            case PendingConnection::State::Running:
            case PendingConnection::State::Sending: {
                if (c->carriesProgram() && c->state == PendingConnection::State::Running) {
                    c->program->tick();
                    afterProgramStep(c, now);
                    if (i >= active.size() || active[i] != c) break; // done, or failed
                }
                // The room a slow reader made is used even without a wake-up.
                sendOutput(c, now);
                if (i >= active.size() || active[i] != c) break; // done, or failed
                int64_t window = (int64_t)sendWindowMs.load();
                if (stalled(c, now, window, MIN_PROGRESS)) {
                    clientGone(c, c->output.fileInFlight());
                    break;
                }
                c->deadline = now + minimum(SEND_RETRY_MS, window / 4);
                if (c->carriesProgram()) c->deadline = minimum(c->deadline, now + programCheckMs(c, now));
                ++i;
                continue;
            }
            default:
                closeConnection(c);
                break;
            }
        } catch (...) {
            outOfMemory(c, now);
        }
        // The connection left the list: the same index holds another one now.
    }
}

void ConnectionReactor::setDeadline(PendingConnection* c, int64_t deadline)
{
    c->deadline = deadline;
    if (c->activeIndex < active.size() && active[c->activeIndex] == c) return;
    c->activeIndex = active.size();
    active.push_back(c);
}

void ConnectionReactor::clearDeadline(PendingConnection* c)
{
    size_t i = c->activeIndex;
    c->activeIndex = (size_t)-1;
    if (i >= active.size() || active[i] != c) return;
    active[i] = active.back();
    active[i]->activeIndex = i;
    active.pop_back();
}

// ------------------------------------------------------------ event set

void ConnectionReactor::arm(PendingConnection* c, uint32_t events)
{
    struct epoll_event ev = {};
    ev.events = events | EPOLLONESHOT;
    ev.data.ptr = &c->socketTag;
    if (c->registered) {
        epoll_ctl(epollFd, EPOLL_CTL_MOD, c->fd, &ev);
    } else if (epoll_ctl(epollFd, EPOLL_CTL_ADD, c->fd, &ev) == 0) {
        c->registered = true;
    }
    c->armed = true;
}

// A registration whose one event has fired reports nothing more; one still
// armed would report the client's hang-up while a worker serves it.
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
        // Every loop watches the one listening socket; a new connection
        // wakes one loop that waits, not all of them (which would then
        // contend for the socket's lock).
        ev.events = EPOLLIN | EPOLLEXCLUSIVE;
        ev.data.ptr = &listenTag;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &ev);
    } else {
        epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
    }
    listening = on;
}

// Descriptors are short: the connection that has sent least for longest
// makes room for a new one. Only a head still coming, or an answered
// connection whose leftover input is being dropped, can go; a normal request
// arrives whole with its connection and never waits here. False when none
// of this loop's connections can go.
bool ConnectionReactor::evictIdlest(int64_t now)
{
    PendingConnection* idlest = nullptr;
    for (PendingConnection* c : active) {
        bool waiting = c->state == PendingConnection::State::Head || c->state == PendingConnection::State::Linger;
        if (!waiting || now - c->lastInputAt < EVICT_AFTER_MS) continue;
        if (idlest == nullptr || c->lastInputAt < idlest->lastInputAt
            || (c->lastInputAt == idlest->lastInputAt && c->raw->length() < idlest->raw->length()))
            idlest = c;
    }
    if (idlest == nullptr) return false;
    if (!budget->evicting.exchange(true) && control != nullptr)
        control->log("Descriptors are short: connections that sent least for longest are closed to make room.", -1);
    ++budget->evicted;
    closeConnection(idlest);
    return true;
}

// Said once when connections have to wait for descriptors, whichever loop
// meets it first.
void ConnectionReactor::noteShortage(Shortage shortage, int64_t now)
{
    int err = errno;
    budget->lastShortage.store(now);
    if (budget->shortReported.exchange(true) || control == nullptr) return;
    if (shortage == Shortage::System) {
        errno = err;
        control->log(WSocketException("Cannot accept socket.", -9).toString(), -1);
    } else {
        control->log(WFormattedString("New connections wait: %ld connections use every descriptor the server may spare.",
                         budget->open.load()),
            -1);
    }
}

// Said once when no loop has met a shortage for a second.
void ConnectionReactor::noteShortageOver(int64_t now)
{
    if (!budget->shortReported.load() || now - budget->lastShortage.load() < 1000) return;
    if (budget->shortReported.exchange(false) && control != nullptr) {
        if (budget->evicting.exchange(false))
            control->log(WFormattedString("%ld connections were closed to make room.", budget->evicted.exchange(0)), -1);
        control->log("New connections are accepted again.", -1);
    }
}

// ----------------------------------------------------------- pool, stop

PendingConnection* ConnectionReactor::allocate()
{
    if (!pool.empty()) {
        PendingConnection* c = pool.back();
        pool.pop_back();
        return c;
    }
    return new PendingConnection();
}

void ConnectionReactor::recycle(PendingConnection* c)
{
    c->fd = -1;
    c->registered = false;
    c->armed = false;
    c->program.reset();
    c->request.reset();
    c->body.reset();
    c->output.reset();
    c->extra.clear();
    // Objects that grew for a large head are not kept: the pool keeps only
    // what common requests need.
    c->releaseLargeHead();
    if (c->extra.capacity() <= PendingConnection::KEPT_HEAD_BYTES
        && pool.size() < POOL_LIMIT) {
        pool.push_back(c);
        return;
    }
    delete c;
}

void ConnectionReactor::stopAccepting()
{
    // For good: closing connections below must not turn the listener on again.
    accepting = false;
    setListening(false);
    // Connections whose request is not complete get nothing.
    for (size_t i = active.size(); i-- > 0;) {
        if (i >= active.size()) continue;
        PendingConnection* c = active[i];
        if (c->state == PendingConnection::State::Head || c->state == PendingConnection::State::Body
            || c->state == PendingConnection::State::Linger)
            closeConnection(c);
    }
}

bool ConnectionReactor::answersRunning() const
{
    if (withWorkers > 0) return true;
    // Answers still going out, CGI programs this loop carries included.
    for (PendingConnection* c : active)
        if (c->state == PendingConnection::State::Sending || c->state == PendingConnection::State::Running)
            return true;
    return false;
}

void ConnectionReactor::close()
{
    {
        std::lock_guard<std::mutex> guard(notesLock);
        running = false;
    }
    // What workers said last: connections they are done with go.
    for (PendingConnection *c = takeNoteList(), *next; c != nullptr; c = next) {
        next = c->takenNext;
        if (!(c->takenNotes & (noteBit(Note::Done) | noteBit(Note::Refuse)))) continue;
        if (jobReturned(c)) continue;
        enter(c, PendingConnection::State::Sending);
        c->output.kill();
        closeConnection(c);
    }
    while (!active.empty()) {
        PendingConnection* c = active.back();
        if (c->state == PendingConnection::State::Running) {
            clientGone(c, "");
            continue;
        }
        closeConnection(c);
    }
    recycleClosed();
    if (epollFd >= 0) {
        ::close(epollFd);
        epollFd = -1;
    }
}
