#include <cerrno>
#include <cstring>

#include "WException.h"
#include "internal/WLineReader.h"
#include "WRepository.h"
#include "internal/WRepositoryCache.h"
#include "internal/WRepositoryFormat.h"

namespace {

[[noreturn]] void throwPosition()
{
    errno = EINVAL;
    throw WFileException("Cannot set file pointer.", -5);
}

[[noreturn]] void throwEOF()
{
    errno = 0;
    throw WEOFException("End of file reached.");
}

[[noreturn]] void throwNoWriting()
{
    throw WRepositoryFileException("Writing to a repository file is not allowed.");
}

} // namespace

WRepositoryFile::WRepositoryFile() : directory(nullptr), entry(nullptr), end(0), eofBytes(0), posMode(POS_BEGIN)
{
}

WRepositoryFile::WRepositoryFile(const char* repository, const char* member) : WRepositoryFile()
{
    open(repository, member);
}

WRepositoryFile::~WRepositoryFile()
{
    release();
    try {
        archive.close();
    } catch (...) {
    }
}

void WRepositoryFile::release() noexcept
{
    if (directory != nullptr) WRepositoryCache::release(archive.getFilename());
    directory = nullptr;
    entry = nullptr;
    end = 0;
    eofBytes = 0;
}

void WRepositoryFile::open(const char* repository, const char* member)
{
    release();
    archive.close();
    memberName = "";
    // Nothing is ever written through a reader, so the archive may well be
    // read-only.
    archive.openPlain(repository, false);
    try {
        unsigned char header[WRepositoryFormat::HEADER_SIZE];
        archive.read(header, sizeof header);
        if (!WRepositoryFormat::hasMagic(header)) {
            WFormattedString message("No repository file: %s", repository);
            throw WRepositoryFileException(message);
        }
        directory = WRepositoryCache::acquire(repository, archive, WRepositoryFormat::entryCount(header));
        if (member != nullptr) load(member);
    } catch (...) {
        // A failed open keeps neither the handle nor a hold on the cache.
        release();
        archive.close();
        throw;
    }
}

void WRepositoryFile::load(const char* member)
{
    const WRepositoryEntry* found = directory != nullptr ? directory->find(member) : nullptr;
    if (found == nullptr) {
        WFormattedString message("File not found in repository: %s", member);
        errno = ENOENT;
        throw WFileNotFoundException(message);
    }
    archive.seekTo(found->offset);
    entry = found;
    memberName = found->name;
    end = (unsigned long long)found->offset + found->size;
    eofBytes = 0;
}

// Before a member is loaded the reader behaves as an empty member.
unsigned long long WRepositoryFile::start() const
{
    return entry != nullptr ? entry->offset : 0;
}

// ---------------------------------------------------------------- reading

void* WRepositoryFile::read(void* buffer, unsigned long length)
{
    eofBytes = 0;
    unsigned long long available = 0;
    if (entry != nullptr) {
        unsigned long long pos = archive.getPos();
        available = pos < end ? end - pos : 0;
    }
    unsigned long n = available < length ? (unsigned long)available : length;
    if (n > 0) {
        try {
            archive.read(buffer, n);
        } catch (const WEOFException&) {
            // The archive file itself was cut short.
            eofBytes = archive.getEOFBytes();
            throw;
        }
    }
    if (n < length) {
        eofBytes = n;
        throwEOF();
    }
    return buffer;
}

void WRepositoryFile::read(WString& text)
{
    unsigned long capacity = text.getBufLength() - 1;
    if (capacity == 0) return;
    try {
        read(text.getBuf(), capacity);
        text.getBuf()[capacity] = '\0';
        text.truncate(capacity);
    } catch (const WEOFException&) {
        text.getBuf()[eofBytes] = '\0';
        text.truncate(eofBytes);
        throw;
    }
}

int WRepositoryFile::readByte()
{
    unsigned char b;
    read(&b, 1);
    return b;
}

bool WRepositoryFile::readln(WString& line)
{
    auto readBlock = [this](char* block, unsigned long n) -> unsigned long {
        try {
            read(block, n);
            return n;
        } catch (const WEOFException&) {
            return eofBytes;
        }
    };
    auto unread = [this](unsigned long back) { moveWithin((long long)getPos() - (long long)back); };
    return WLineReader::readLine(line, readBlock, unread);
}

// ---------------------------------------------------------------- position

// Moves to a position counted from the member's first byte; it must lie
// inside the member.
void WRepositoryFile::moveWithin(long long target)
{
    if (entry == nullptr || target < 0 || (unsigned long long)target > entry->size) throwPosition();
    archive.seekTo(start() + (unsigned long long)target);
}

void WRepositoryFile::setPos(int position)
{
    long long size = entry != nullptr ? entry->size : 0;
    switch (posMode) {
    case POS_BEGIN:
        if (position < 0) throwPosition();
        moveWithin(position);
        break;
    case POS_CURRENT:
        skip(position);
        break;
    case POS_END:
        if (position > 0) throwPosition();
        moveWithin(size + position);
        break;
    default:
        break;
    }
}

void WRepositoryFile::skip(int distance)
{
    long long size = entry != nullptr ? entry->size : 0;
    long long target = (long long)getPos() + distance;
    moveWithin(target > size ? size : target);
}

unsigned long WRepositoryFile::getPos() const
{
    if (entry == nullptr) return 0;
    unsigned long long pos = archive.getPos();
    return pos > start() ? (unsigned long)(pos - start()) : 0;
}

unsigned long WRepositoryFile::getSize() const
{
    return entry != nullptr ? entry->size : 0;
}

void WRepositoryFile::mark()
{
    archive.mark();
}

void WRepositoryFile::reset()
{
    archive.reset();
}

// ---------------------------------------------------------------- writing

void WRepositoryFile::write(const char*)
{
    throwNoWriting();
}

void WRepositoryFile::write(const WString&)
{
    throwNoWriting();
}

void WRepositoryFile::write(const void*, unsigned long)
{
    throwNoWriting();
}

void WRepositoryFile::writeln(const char*)
{
    throwNoWriting();
}

void WRepositoryFile::writeln(const WString&)
{
    throwNoWriting();
}
