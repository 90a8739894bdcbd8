#include "WFile.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "WException.h"
#include "internal/WFileStatus.h"
#include "internal/WLineReader.h"
#include "WRepository.h"

namespace {

// The exceptions take errno as their system error code; building the message
// must not change the code saved right after the failing call.
[[noreturn]] void throwFileException(int savedErrno, const char* message, int id)
{
    errno = savedErrno;
    throw WFileException(message, id);
}

[[noreturn]] void throwEOF()
{
    errno = 0;
    throw WEOFException("End of file reached.");
}

// Opens without blocking on a FIFO or device and keeps only regular files:
// the callers expect a file with a size that ends. Returns -1 with errno set.
int openRegular(const char* path, int flags)
{
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    WFileStatus status {};
    if (!WFileStatus::query(fd, status) || !status.isRegular()) {
        int e = errno;
        if (status.isDirectory())
            e = EISDIR;
        else if (e == 0)
            e = EINVAL;
        ::close(fd);
        errno = e;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// openRegular for a file to write anew; throws "Cannot create file: <path>".
int createRegular(const char* path, int flags)
{
    int fd = openRegular(path, flags);
    if (fd < 0) {
        int e = errno;
        throwFileException(e, WFormattedString("Cannot create file: %s", path), -1);
    }
    return fd;
}

} // namespace

// ---------------------------------------------------------------- WFileInfo

WFileInfo::WFileInfo() : attributes(ATTRIBUTE_NORMAL), size(0), timeCreation(0), timeLastAccess(0), timeLastModified(0)
{
}

WFileInfo::~WFileInfo()
{
    attributes = ATTRIBUTE_NORMAL;
    size = 0;
    timeCreation = timeLastAccess = timeLastModified = 0;
}

void WFileInfo::set(const char* fileName, uint32_t attributeBits, int64_t fileSize, uint64_t created, uint64_t accessed,
    uint64_t modified)
{
    name = fileName;
    attributes = attributeBits;
    size = fileSize;
    timeCreation = created;
    timeLastAccess = accessed;
    timeLastModified = modified;
}

// ---------------------------------------------------------------- WFile

WFile::WFile()
    : opened(false), handle(-1), posMode(POS_BEGIN), markPos(0), eofBytes(0), stream(nullptr), member(nullptr)
{
}

WFile::WFile(const char* path) : WFile()
{
    open(path, false);
}

WFile::~WFile()
{
    try {
        close();
    } catch (...) {
    }
}

void WFile::open(const char* path, bool write)
{
    close();
    if (path[0] != '$') {
        openPlain(path, write);
        return;
    }
    // "$<repository>:<filename>": the first colon ends the repository path.
    const char* colon = strchr(path + 1, ':');
    if (colon == nullptr) throw WRepositoryFileException("Unknown repository file format. $<repository>:<filename>");
    WString repository(path + 1, (unsigned long)(colon - path - 1));
    member = new WRepositoryFile(repository, colon + 1);
    fileName = path;
    opened = true;
}

void WFile::openPlain(const char* path, bool write)
{
    close();
    int fd = openRegular(path, write ? O_RDWR : O_RDONLY);
    if (fd < 0) {
        int e = errno;
        if (e == ENOENT || e == ENOTDIR) {
            WFormattedString message("File not found: %s", path);
            errno = e;
            throw WFileNotFoundException(message);
        }
        throwFileException(e, WFormattedString("Cannot open file: %s", path), -2);
    }
    adopt(fd, path);
}

void WFile::adopt(int fd, const char* path)
{
    handle = fd;
    fileName = path;
    opened = true;
}

void WFile::create(const char* path, bool append)
{
    close();
    // Appending goes through O_APPEND, so that several writers of one log
    // never overwrite each other's lines.
    int flags = O_RDWR | O_CREAT | (append ? O_APPEND : O_TRUNC);
    int fd = createRegular(path, flags);
    adopt(fd, path);
    if (append && lseek(fd, 0, SEEK_END) < 0) {
        int e = errno;
        close();
        throwFileException(e, "Cannot set file pointer.", -5);
    }
}

void WFile::createNew(const char* path)
{
    close();
    adopt(createRegular(path, O_RDWR | O_CREAT | O_EXCL), path);
}

namespace {

// A fresh candidate name next to target, built by length so that no buffer
// can cut it short: the target's name (cut when very long, to stay within
// the system's limit on one name), ".tmp" and six random letters.
WString temporaryName(const char* target, unsigned attempt)
{
    static std::atomic<unsigned> counter {0};
    const char* slash = strrchr(target, '/');
    size_t baseStart = slash != nullptr ? (size_t)(slash - target) + 1 : 0;
    size_t baseLength = strlen(target + baseStart);
    const size_t keep = 200; // NAME_MAX 255 less ".tmp" and the letters
    WString name(target, (unsigned long)(baseStart + (baseLength < keep ? baseLength : keep)));
    name.append(".tmp");
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t seed = ((uint64_t)getpid() << 32) ^ (uint64_t)now.tv_nsec ^ ((uint64_t)now.tv_sec << 20)
        ^ ((uint64_t)counter.fetch_add(1) << 40) ^ attempt;
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        name.append((int)letters[(seed >> 33) % (sizeof letters - 1)]);
    }
    return name;
}

} // namespace

void WFile::createTemporary(const char* target)
{
    for (unsigned attempt = 0;; ++attempt) {
        WString name = temporaryName(target, attempt);
        try {
            createNew(name);
            return;
        } catch (WFileException& e) {
            if (e.getSysErrCode() != EEXIST || attempt >= 100) throw;
        }
    }
}

void WFile::close()
{
    if (member != nullptr) {
        delete member;
        member = nullptr;
    } else if (opened) {
        // The descriptor is gone even when closing reports an error, so a
        // failed close is never repeated.
        if (stream != nullptr)
            fclose(stream);
        else if (handle >= 0)
            ::close(handle);
    } else {
        return;
    }
    forgetHandle();
}

void WFile::forgetHandle()
{
    opened = false;
    handle = -1;
    stream = nullptr;
    posMode = POS_BEGIN;
    markPos = 0;
    eofBytes = 0;
}

void WFile::flush()
{
    if (member != nullptr) return; // an archive member is never written
    if (stream != nullptr && fflush(stream) != 0) throwFileException(errno, "Cannot flush file.", -5);
    if (fsync(handle) != 0) throwFileException(errno, "Cannot flush file.", -5);
}

WFileHandle WFile::getFileHandle() const
{
    return member != nullptr ? member->getFileHandle() : handle;
}

FILE* WFile::getFileStream()
{
    if (member != nullptr) return member->getFileStream();
    if (stream == nullptr && handle >= 0) {
        // A read-only descriptor cannot carry a read-write stream.
        int access = fcntl(handle, F_GETFL) & O_ACCMODE;
        stream = fdopen(handle, access == O_RDWR ? "rb+" : access == O_WRONLY ? "wb" : "rb");
    }
    return stream;
}

void WFile::getFileInfo(WFileInfo& info) const
{
    WFileStatus status {};
    if (!WFileStatus::query(getFileHandle(), status)) status = WFileStatus {};
    info.set(
        fileName, WFileInfo::ATTRIBUTE_NORMAL, (int64_t)getSize(), status.created, status.accessed, status.modified);
}

// ---------------------------------------------------------------- writing

void WFile::writeAll(const void* data, unsigned long length)
{
    const char* p = (const char*)data;
    while (length > 0) {
        ssize_t n = ::write(handle, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throwFileException(n < 0 ? errno : EIO, "Cannot write file.", -3);
        p += n;
        length -= (unsigned long)n;
    }
}

void WFile::write(const void* data, unsigned long length)
{
    if (member != nullptr) return member->write(data, length);
    writeAll(data, length);
}

void WFile::write(const char* text)
{
    write(text, (unsigned long)strlen(text));
}

void WFile::write(const WString& text)
{
    write(text.getBuf(), text.length());
}

void WFile::writeln(const char* text)
{
    if (member != nullptr) return member->writeln(text);
    // One write per line keeps appended lines whole.
    WString line(text);
    line.append("\r\n");
    writeAll(line.getBuf(), line.length());
}

void WFile::writeln(const WString& text)
{
    if (member != nullptr) return member->writeln(text);
    WString line(text);
    line.append("\r\n");
    writeAll(line.getBuf(), line.length());
}

// ---------------------------------------------------------------- reading

unsigned long WFile::readSome(void* buffer, unsigned long length)
{
    char* p = (char*)buffer;
    unsigned long done = 0;
    while (done < length) {
        ssize_t n = ::read(handle, p + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwFileException(errno, "Cannot read file.", -4);
        if (n == 0) break;
        done += (unsigned long)n;
    }
    return done;
}

void* WFile::read(void* buffer, unsigned long length)
{
    if (member != nullptr) return member->read(buffer, length);
    unsigned long n = readSome(buffer, length);
    if (n < length) {
        eofBytes = n;
        throwEOF();
    }
    return buffer;
}

void WFile::read(WString& text)
{
    if (member != nullptr) return member->read(text);
    unsigned long capacity = text.getBufLength() - 1;
    if (capacity == 0) return; // the shared empty buffer takes nothing
    unsigned long n = readSome(text.getBuf(), capacity);
    text.getBuf()[n] = '\0';
    text.truncate(n);
    if (n < capacity) {
        eofBytes = n;
        throwEOF();
    }
}

int WFile::readByte()
{
    if (member != nullptr) return member->readByte();
    unsigned char b;
    read(&b, 1);
    return b;
}

bool WFile::readln(WString& line)
{
    if (member != nullptr) return member->readln(line);
    return WLineReader::readLine(
        line, [this](char* block, unsigned long n) { return readSome(block, n); },
        [this](unsigned long back) { seek(-(long long)back, SEEK_CUR); });
}

// ---------------------------------------------------------------- position

unsigned long long WFile::seek(long long offset, int whence) const
{
    off_t pos = lseek(handle, (off_t)offset, whence);
    if (pos < 0) throwFileException(errno, "Cannot set file pointer.", -5);
    return (unsigned long long)pos;
}

void WFile::seekTo(unsigned long long position)
{
    if (position > (unsigned long long)INT64_MAX) throwFileException(EINVAL, "Cannot set file pointer.", -5);
    seek((long long)position, SEEK_SET);
}

void WFile::setPosMode(PosMode mode)
{
    if (member != nullptr) return member->setPosMode(mode);
    posMode = mode;
}

void WFile::setPos(int position)
{
    if (member != nullptr) return member->setPos(position);
    int whence;
    switch (posMode) {
    case POS_BEGIN:
        whence = SEEK_SET;
        break;
    case POS_CURRENT:
        whence = SEEK_CUR;
        break;
    case POS_END:
        whence = SEEK_END;
        break;
    default:
        throwFileException(EINVAL, "Cannot set file pointer.", -5);
    }
    seek(position, whence);
}

void WFile::skip(int distance)
{
    if (member != nullptr) return member->skip(distance);
    seek(distance, SEEK_CUR);
}

unsigned long WFile::getPos() const
{
    if (member != nullptr) return member->getPos();
    off_t pos = lseek(handle, 0, SEEK_CUR);
    if (pos < 0) throwFileException(errno, "Cannot get file pointer.", -5);
    return (unsigned long)pos;
}

unsigned long WFile::getSize() const
{
    if (member != nullptr) return member->getSize();
    WFileStatus status;
    if (!WFileStatus::query(handle, status)) throwFileException(errno, "Cannot get file size.", -5);
    return (unsigned long)status.size;
}

void WFile::mark()
{
    if (member != nullptr) return member->mark();
    markPos = getPos();
}

void WFile::reset()
{
    if (member != nullptr) return member->reset();
    seekTo(markPos);
}

unsigned long WFile::getEOFBytes() const
{
    return member != nullptr ? member->getEOFBytes() : eofBytes;
}

const WString& WFile::getFilename() const
{
    return member != nullptr ? member->getFilename() : fileName;
}
