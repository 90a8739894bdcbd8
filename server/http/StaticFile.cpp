// Static file delivery: HTTPResponse::sendFile with dates, one byte range and
// conditional requests.
#include "HTTPResponse.h"

#include "ByteRange.h"
#include "ClientConnection.h"
#include "DecimalText.h"
#include "FrontEnd.h"
#include "HttpDate.h"
#include "SettledChange.h"
#include "SmallFileCache.h"
#include "WException.h"
#include "WFile.h"
#include "WSocket.h"
#include "ZorvaneControl.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bytes per read and write of the body.
const unsigned long CHUNK_SIZE = 65535;
// What of a larger file travels with the header block.
const unsigned long FIRST_PIECE = 16384;

char* chunkBuffer()
{
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) buffer.reset(new char[CHUNK_SIZE]);
    return buffer.get();
}

bool isArchiveMember(const char* path)
{
    return path[0] == '$';
}

SmallFileCache::Stamp stampOf(const struct stat& status)
{
    SmallFileCache::Stamp stamp;
    stamp.device = (uint64_t)status.st_dev;
    stamp.inode = (uint64_t)status.st_ino;
    stamp.size = (uint64_t)status.st_size;
    stamp.modifiedNs = nanosecondsOf(status.st_mtim);
    stamp.changedNs = nanosecondsOf(status.st_ctim);
    stamp.modifiedSeconds = (int64_t)status.st_mtime;
    return stamp;
}

// A plain file opened for sending: regular files only (a directory, FIFO or
// device is refused without blocking), with its size and modification time
// from the one status call. Failures throw as the file layer's open does.
class PlainFile {
public:
    // opened: path already opened by the caller (taken over), or -1.
    PlainFile(const char* path, int opened)
    {
        fd = opened;
        while (fd < 0) {
            fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd >= 0 || errno != EINTR) break;
        }
        struct stat status;
        if (fd >= 0 && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
            int e = fd >= 0 && S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
            ::close(fd);
            fd = -1;
            errno = e;
        }
        if (fd < 0) {
            int e = errno;
            if (e == ENOENT || e == ENOTDIR) {
                WFormattedString message("File not found: %s", path);
                errno = e;
                throw WFileNotFoundException(message);
            }
            errno = e;
            throw WFileException(WFormattedString("Cannot open file: %s", path), -2);
        }
        size = (uint64_t)status.st_size;
        modified = (int64_t)status.st_mtime;
        stamp = stampOf(status);
    }
    ~PlainFile()
    {
        if (fd >= 0) ::close(fd);
    }
    // The descriptor, which the caller now owns.
    int release()
    {
        int taken = fd;
        fd = -1;
        return taken;
    }

    int fd = -1;
    uint64_t size = 0;
    int64_t modified = 0;
    SmallFileCache::Stamp stamp;

    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;
};

// Reads the open file at 64-bit positions: pread on plain files, the member
// stream for repository archive members.
class FileReader {
public:
    FileReader(WFile& source, const char* path)
        : file(source), member(isArchiveMember(path)), fd(member ? -1 : source.getFileHandle()), pos(0)
    {
    }
    FileReader(WFile& unused, int plainFd) : file(unused), member(false), fd(plainFd), pos(0) { }
    FileReader(WFile& unused, const std::string& bytes) : file(unused), member(false), fd(-1), pos(0), memory(&bytes) { }

    int descriptor() const { return fd; }
    uint64_t position() const { return pos; }

    void seek(uint64_t position)
    {
        if (member) {
            if (position > (uint64_t)INT_MAX) {
                errno = EOVERFLOW;
                throw WFileException("Cannot set file pointer.", -5);
            }
            file.setPos((int)position);
        }
        pos = position;
    }

    // Up to n bytes; fewer only at the end of the file.
    unsigned long read(char* buffer, unsigned long n)
    {
        if (memory) {
            uint64_t left = pos < memory->size() ? memory->size() - pos : 0;
            unsigned long done = (unsigned long)(n < left ? n : left);
            memcpy(buffer, memory->data() + pos, done);
            pos += done;
            return done;
        }
        if (member) {
            try {
                file.read(buffer, n);
                pos += n;
                return n;
            } catch (WEOFException&) {
                unsigned long got = file.getEOFBytes();
                pos += got;
                return got;
            }
        }
        unsigned long done = 0;
        while (done < n) {
            ssize_t r = pread(fd, buffer + done, n - done, (off_t)(pos + done));
            if (r < 0) {
                if (errno == EINTR) continue;
                throw WFileException("Cannot read file.", -4);
            }
            if (r == 0) break;
            done += (unsigned long)r;
        }
        pos += done;
        return done;
    }

private:
    WFile& file;
    bool member;
    int fd;
    uint64_t pos;
    const std::string* memory = nullptr; // a cached file's bytes
};

} // namespace

void HTTPResponse::sendFile(const char* path, const char* mimeType, const FileRequest& request, int openFile)
{
    sendFileFrom(FileSource::File, path, mimeType, request, openFile);
}

bool HTTPResponse::sendCachedFile(const char* path, const char* mimeType, const FileRequest& request)
{
    return sendFileFrom(FileSource::Cache, path, mimeType, request, -1);
}

bool HTTPResponse::sendFileFrom(
    FileSource source, const char* path, const char* mimeType, const FileRequest& request, int openFile)
{
    // The file shrank while it was sent: the client got fewer bytes than the
    // header block announced, and must not take them for the whole answer.
    auto truncated = [&] {
        if (control) control->log(WFormattedString("Cannot send file: %s, file was truncated.", path), -1);
        cutOff();
    };
    try {
        // Archive members go through the file layer; plain files take one
        // open and one status call, or only the status call when this
        // loop's cache holds the file as it is.
        WFile file;
        std::optional<PlainFile> plain;
        SmallFileCache* cache = isArchiveMember(path) ? nullptr : SmallFileCache::forThisThread();
        const SmallFileCache::Entry* cached = nullptr;
        if (source == FileSource::Cache) {
            // A path the cache holds nothing for costs no status call.
            const SmallFileCache::Entry* kept = cache ? cache->kept(path) : nullptr;
            struct stat now;
            if (kept && ::stat(path, &now) == 0 && S_ISREG(now.st_mode) && kept->stamp == stampOf(now)) cached = kept;
            if (cached == nullptr) return false;
        }
        uint64_t size;
        int64_t modifiedTime;
        if (cached) {
            size = cached->stamp.size;
            modifiedTime = cached->stamp.modifiedSeconds;
        } else if (isArchiveMember(path)) {
            if (openFile >= 0) ::close(openFile);
            file.open(path, false);
            size = (uint64_t)file.getSize();
            WFileInfo info;
            file.getFileInfo(info);
            modifiedTime = (int64_t)info.getTimeLastModified();
        } else {
            plain.emplace(path, openFile);
            size = plain->size;
            modifiedTime = plain->modified;
        }
        if (control && control->isLogShown(2))
            control->log(
                WFormattedString("Send file: %s, Size=%llu, MimeType=%s", path, (unsigned long long)size, mimeType), 2);

        WString lastModified;
        formatHttpDate(modifiedTime, lastModified);
        addHeader("Date", currentHttpDate());

        // Any other spelling of the date counts as a change.
        if (request.ifModifiedSince[0] != '\0' && lastModified.equals(request.ifModifiedSince)) {
            setStatus(HTTP_STATUS_NOT_MODIFIED);
            sendHeaders(true);
            return true;
        }
        ByteRangeSpec asked = parseRangeHeader(request.range);
        // A range of another version of the file would not fit the client's part.
        if (request.ifRange[0] != '\0' && !lastModified.equals(request.ifRange)) asked = {};
        ByteRangePlan plan = settleByteRange(size, asked);
        if (plan.outcome == ByteRangePlan::Outcome::Unsatisfiable) {
            setStatus(HTTP_STATUS_RANGE_NOT_SATISFIABLE);
            addHeader("Content-Range", WFormattedString("bytes */%llu", (unsigned long long)size));
            addHeader("Content-Length", "0");
            sendHeaders(true);
            return true;
        }
        FileReader reader = cached ? FileReader(file, cached->bytes)
            : plain                ? FileReader(file, plain->fd)
                                   : FileReader(file, path);
        if (plan.first > 0) reader.seek(plan.first);
        uint64_t count = plan.count;

        setStatus(HTTP_STATUS_OK);
        addHeader("Content-Type", mimeType);
        addHeader("Last-Modified", lastModified);
        addHeader("Content-Length", DecimalText(count));
        if (plan.outcome == ByteRangePlan::Outcome::Part) {
            setStatus(HTTP_STATUS_PARTIAL_CONTENT);
            addHeader("Content-Range",
                WFormattedString("bytes %llu-%llu/%llu", (unsigned long long)plan.first, (unsigned long long)plan.last,
                    (unsigned long long)size));
        } else {
            addHeader("Accept-Ranges", "bytes");
        }
        setAutoHeaders(true);

        // HEAD: the same status and headers as GET, without the body.
        if (request.headOnly || count == 0) {
            sendHeaders(true);
            return true;
        }

        // The first bytes go out with the header block: a small file whole,
        // of a larger one that the system sends on only a first piece.
        char* buffer = chunkBuffer();
        unsigned long whole = connection->firstWriteLimit(CHUNK_SIZE);
        bool systemSends = count > whole && reader.descriptor() >= 0;
        unsigned long firstPiece = systemSends ? connection->firstWriteLimit(FIRST_PIECE) : whole;
        unsigned long n = (unsigned long)(count < firstPiece ? count : firstPiece);
        unsigned long got = reader.read(buffer, n);
        if (cache && plain && got == size && reader.position() == got) cache->keep(path, plain->stamp, buffer, got);
        write(buffer, got);
        count -= got;
        if (got < n) {
            truncated();
            return true;
        }

        if (count > 0 && connection->canQueueFile() && reader.descriptor() >= 0) {
            // The rest goes behind the header block in the connection's
            // queue, which takes the file over; its loop sends it.
            connection->queueFile(plain->release(), reader.position(), count, path);
            return true;
        }
        while (count > 0) {
            n = (unsigned long)(count < CHUNK_SIZE ? count : CHUNK_SIZE);
            got = reader.read(buffer, n);
            write(buffer, got);
            count -= got;
            if (got < n) {
                truncated();
                return true;
            }
        }
    } catch (WSocketException&) {
        if (control && isConsoleFrontEnd())
            control->log(WFormattedString("Cannot send file: %s, Connection closed by peer.", path), 2);
    } catch (WException& e) {
        if (control) control->log(WFormattedString("Cannot send file: %s, %s", path, e.toString().getBuf()), -1);
        sendError(HTTP_STATUS_INTERNAL_SERVER_ERROR, e.getMessage(), false);
    }
    return true;
}
