#include "OutputQueue.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "TemporaryFile.h"
#include "WException.h"

namespace {

[[noreturn]] void failWrite(int err)
{
    errno = err;
    throw WSocketException("Cannot write into socket.", -3);
}


} // namespace

OutputQueue::~OutputQueue()
{
    reset();
}

void OutputQueue::dropPieces()
{
    for (Piece& p : pieces)
        if (p.ownsFd) ::close(p.fd);
    pieces.clear();
    memoryBytes = 0;
    TemporarySpace::release(spillQueued);
    spillQueued = 0;
}

void OutputQueue::reset()
{
    std::lock_guard<std::mutex> guard(lock);
    dropPieces();
    if (spillFd >= 0) {
        ::close(spillFd);
        spillFd = -1;
    }
    spillEnd = 0;
    spillFreed = 0;
    loopWillLook = false;
    finished = false;
    dead = false;
    spillBroken = false;
    spillError = 0;
    spillErrorSaid = false;
    listener = nullptr;
    writer = Writer::Worker;
    brokenPath.clear();
}

bool OutputQueue::tellLoop()
{
    bool tell = !loopWillLook;
    loopWillLook = true;
    return tell;
}

void OutputQueue::setListener(OutputListener* told, Writer who)
{
    std::lock_guard<std::mutex> guard(lock);
    listener = told;
    writer = who;
}

bool OutputQueue::hasRoom()
{
    std::lock_guard<std::mutex> guard(lock);
    return memoryBytes < MEMORY_LIMIT && spillQueued <= SPILL_LIMIT;
}

int OutputQueue::takeSpillError()
{
    std::lock_guard<std::mutex> guard(lock);
    int err = spillError;
    spillError = 0;
    return err;
}

bool OutputQueue::openSpillFile()
{
    if (spillFd < 0) spillFd = openUnlinkedTemporaryFile();
    return spillFd >= 0;
}

template <typename Ready> void OutputQueue::waitFor(std::unique_lock<std::mutex>& held, Ready ready)
{
    while (!dead && !ready()) {
        if (tellLoop() && listener != nullptr) {
            // What this writer queued so far may be news to the loop.
            held.unlock();
            listener->outputReady();
            held.lock();
            continue;
        }
        ++waiting;
        drained.wait_for(held, std::chrono::milliseconds(200));
        --waiting;
    }
    if (dead) failWrite(EPIPE);
}

// Output beyond the memory share goes to the temporary file. When that
// cannot take it (no file, no space, no descriptor) nothing is lost: the
// bytes wait in memory for the client, and a worker waits for room as a
// pipe's writer would.
void OutputQueue::store(const char* data, size_t length, std::unique_lock<std::mutex>& held)
{
    if (!spillBroken && spill(data, length, held)) return;
    while (length > 0) {
        size_t part = length < MEMORY_LIMIT ? length : MEMORY_LIMIT;
        if (writer == Writer::Worker)
            waitFor(held, [&] { return memoryBytes == 0 || memoryBytes + part <= MEMORY_LIMIT; });
        keepInMemory(data, part);
        data += part;
        length -= part;
    }
}

bool OutputQueue::spill(const char* data, size_t length, std::unique_lock<std::mutex>& held)
{
    if (writer == Writer::Worker) waitFor(held, [&] { return spillQueued <= SPILL_LIMIT; });
    if (!TemporarySpace::reserve(length)) {
        // Past the server's cap: this answer waits in memory until other
        // answers have given space back.
        noteSpillError(EDQUOT);
        return false;
    }
    if (!openSpillFile()) {
        TemporarySpace::release(length);
        spillBroken = true;
        noteSpillError(errno);
        return false;
    }
    uint64_t at = spillEnd;
    spillEnd += length;
    spillQueued += length;
    // The bytes are written without the lock: the loop goes on sending
    // meanwhile. Only this writer writes the file, and the range is in no
    // piece yet, so the loop does not read it.
    held.unlock();
    bool written = writeAllAt(spillFd, data, length, at);
    int err = errno;
    held.lock();
    if (dead) failWrite(EPIPE);
    if (!written) {
        // Nothing of the range counts: the bytes go to memory instead.
        spillQueued -= length;
        TemporarySpace::release(length);
        if (spillEnd == at + length) spillEnd = at;
        spillBroken = true;
        noteSpillError(err != 0 ? err : EIO);
        return false;
    }
    if (!pieces.empty()) {
        Piece& last = pieces.back();
        if (last.fd == spillFd && last.offset + last.length == at) {
            last.length += length;
            return true;
        }
    }
    Piece piece;
    piece.fd = spillFd;
    piece.offset = at;
    piece.length = length;
    pieces.push_back(std::move(piece));
    return true;
}

void OutputQueue::noteSpillError(int err)
{
    if (spillErrorSaid) return;
    spillErrorSaid = true;
    spillError = err;
}

void OutputQueue::keepInMemory(const char* data, size_t length)
{
    Piece piece;
    piece.bytes.assign(data, length);
    memoryBytes += length;
    pieces.push_back(std::move(piece));
}

bool OutputQueue::append(const void* first, size_t firstLength, const void* second, size_t secondLength)
{
    size_t total = firstLength + secondLength;
    if (total == 0) return false;
    std::unique_lock<std::mutex> held(lock);
    if (dead) failWrite(EPIPE);
    if (memoryBytes + total > MEMORY_LIMIT) {
        if (firstLength > 0) store(static_cast<const char*>(first), firstLength, held);
        if (secondLength > 0) store(static_cast<const char*>(second), secondLength, held);
        return tellLoop();
    }
    Piece piece;
    piece.bytes.reserve(total);
    piece.bytes.append(static_cast<const char*>(first), firstLength);
    if (secondLength > 0) piece.bytes.append(static_cast<const char*>(second), secondLength);
    memoryBytes += total;
    pieces.push_back(std::move(piece));
    return tellLoop();
}

bool OutputQueue::appendFile(int fd, uint64_t offset, uint64_t count, const char* path)
{
    std::lock_guard<std::mutex> guard(lock);
    if (dead || count == 0) {
        ::close(fd);
        if (dead) failWrite(EPIPE);
        return false;
    }
    Piece piece;
    piece.fd = fd;
    piece.ownsFd = true;
    piece.offset = offset;
    piece.length = count;
    piece.path = path != nullptr ? path : "";
    pieces.push_back(std::move(piece));
    return tellLoop();
}

bool OutputQueue::finish()
{
    std::lock_guard<std::mutex> guard(lock);
    finished = true;
    return tellLoop();
}

bool OutputQueue::isFinished()
{
    std::lock_guard<std::mutex> guard(lock);
    return finished;
}

const std::string& OutputQueue::frontFile() const
{
    static const std::string none;
    for (const Piece& p : pieces)
        if (p.fd >= 0 && p.fd != spillFd) return p.path;
    return none;
}

std::string OutputQueue::fileInFlight()
{
    std::lock_guard<std::mutex> guard(lock);
    return frontFile();
}

void OutputQueue::kill()
{
    std::lock_guard<std::mutex> guard(lock);
    dead = true;
    dropPieces();
    drained.notify_all();
}

OutputQueue::Flush OutputQueue::flush(int socket, uint64_t maxBytes, uint64_t& sent, Answer answer)
{
    sent = 0;
    std::lock_guard<std::mutex> guard(lock);
    if (dead) return Flush::Failed;
    const bool complete = answer == Answer::Complete || finished;
    while (!pieces.empty()) {
        if (sent >= maxBytes) {
            loopWillLook = true;
            return Flush::Blocked;
        }
        Piece& p = pieces.front();
        uint64_t room = maxBytes - sent;
        ssize_t r;
        if (p.fd < 0) {
            size_t n = p.bytes.size() - (size_t)p.offset;
            if (n > room) n = (size_t)room;
            // Held back when something follows at once: what comes next (a
            // file range, or the close) joins them instead of a segment of
            // its own. A send that fills the socket pushes what it holds.
            const bool last = pieces.size() == 1;
            const bool followed = !last ? pieces[1].fd >= 0 : complete;
            int flags = MSG_NOSIGNAL | MSG_DONTWAIT;
            if (followed && n == p.bytes.size() - (size_t)p.offset && n < room) flags |= MSG_MORE;
            r = ::send(socket, p.bytes.data() + p.offset, n, flags);
        } else if (p.fd == spillFd) {
            r = sendCopy(socket, p, room);
            if (r == 0) {
                // The file lost what it held: the answer cannot be completed.
                errno = EIO;
                r = -1;
            }
        } else {
            r = sendCopy(socket, p, room);
            if (r == 0) {
                // The file is shorter than when its answer was made.
                brokenPath = p.path;
                dead = true;
                dropPieces();
                return Flush::Truncated;
            }
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                loopWillLook = true;
                return Flush::Blocked;
            }
            brokenPath = frontFile();
            dead = true;
            dropPieces();
            drained.notify_all();
            return Flush::Failed;
        }
        sent += (uint64_t)r;
        if (p.fd < 0) {
            p.offset += (uint64_t)r;
            memoryBytes -= (size_t)r;
            if (p.offset == p.bytes.size()) pieces.pop_front();
            if (waiting > 0) drained.notify_all();
        } else {
            p.offset += (uint64_t)r;
            p.length -= (uint64_t)r;
            if (p.fd == spillFd) {
                spillQueued -= (uint64_t)r;
                TemporarySpace::release((uint64_t)r);
                if (waiting > 0) drained.notify_all();
                releaseSent(p.offset);
            }
            if (p.length == 0) {
                if (p.ownsFd) ::close(p.fd);
                pieces.pop_front();
            }
        }
    }
    loopWillLook = false;
    // An empty file starts again at its beginning (a write in progress has
    // its bytes counted as queued already).
    if (spillQueued == 0) {
        spillEnd = 0;
        spillFreed = 0;
    }
    return Flush::Empty;
}

ssize_t OutputQueue::sendCopy(int socket, Piece& p, uint64_t room)
{
    // Made on first use: only the threads that send (the loops) get one.
    static thread_local std::unique_ptr<char[]> copy;
    if (!copy) copy.reset(new char[COPY_BYTES]);
    uint64_t n = p.length < room ? p.length : room;
    if (n > COPY_BYTES) n = COPY_BYTES;
    ssize_t got;
    do
        got = ::pread(p.fd, copy.get(), (size_t)n, (off_t)p.offset);
    while (got < 0 && errno == EINTR);
    if (got <= 0) return got;
    return ::send(socket, copy.get(), (size_t)got, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// The file is written in order and sent in order, so everything before sentTo
// went out. While a fast script keeps the queue from ever running empty, the
// file would otherwise grow by the whole answer: what was sent is given back
// to the file system (a hole) every few megabytes.
void OutputQueue::releaseSent(uint64_t sentTo)
{
    if (sentTo < spillFreed + RELEASE_STEP) return;
    // A file system without holes keeps the bytes; the answer is right either way.
    (void)::fallocate(spillFd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, (off_t)spillFreed, (off_t)(sentTo - spillFreed));
    spillFreed = sentTo;
}
