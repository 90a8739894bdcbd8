#include "WRepository.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "WException.h"
#include "internal/WRepositoryFormat.h"

using namespace WRepositoryFormat;

namespace {

constexpr unsigned long CHUNK = 4096;

// The archive keeps offsets and sizes in 32 bits; what does not fit is
// refused instead of being cut.
[[noreturn]] void throwTooLarge(const char* what)
{
    WFormattedString message("Repository file too large: %s", what);
    throw WRepositoryFileException(message);
}

// Copies exactly count bytes from one file to the other in 4096-byte chunks.
void copyBytes(WFile& from, WFile& to, unsigned long long count)
{
    char buffer[CHUNK];
    while (count > 0) {
        unsigned long n = count < CHUNK ? (unsigned long)count : CHUNK;
        from.read(buffer, n);
        to.write(buffer, n);
        count -= n;
    }
}

} // namespace

WRepository::WRepository() : entryCount(0)
{
}

WRepository::~WRepository()
{
    try {
        tempFile.close();
    } catch (...) {
    }
}

void WRepository::create(const char* archiveName)
{
    // Made exclusively: a link planted at a fixed name would have the build
    // overwrite the file it points to.
    tempFile.createTemporary(archiveName);
    // A new build starts from an empty directory.
    directory.removeAll();
    entryCount = 0;
    name = archiveName;
}

void WRepository::addFile(const char* path, const char* memberName)
{
    if (name.length() == 0) return;
    WFile source(path);
    unsigned long long size = source.getSize();
    unsigned long long offset = tempFile.getPos();
    if (size > MAX_U32 || offset + size > MAX_U32) throwTooLarge(path);

    WRepositoryEntry entry;
    memset(&entry, 0, sizeof entry);
    strncpy(entry.name, memberName, WRepositoryEntry::MAX_NAME);
    entry.offset = (uint32_t)offset;
    entry.size = (uint32_t)size;
    // The entry is added only once its bytes are all in the data file.
    copyBytes(source, tempFile, size);
    if (directory.put(memberName, entry) != nullptr) entryCount++;
}

void WRepository::close()
{
    tempFile.close();
    if (name.length() == 0) return;

    WString tempName(tempFile.getFilename());
    tempFile.create(name, false);
    WFile data(tempName);

    unsigned char header[HEADER_SIZE];
    encodeHeader(header, 0, entryCount);
    tempFile.write(header, HEADER_SIZE);

    const unsigned long long dataStart = HEADER_SIZE + (unsigned long long)ENTRY_SIZE * entryCount;
    unsigned long long byteCount = 0;
    unsigned char record[ENTRY_SIZE];
    directory.reset();
    while (directory.hasMoreElements()) {
        const WRepositoryEntry& entry = directory.currentValue();
        unsigned long long offset = dataStart + entry.offset;
        if (offset + entry.size > MAX_U32) throwTooLarge(name);
        encodeEntry(record, (uint32_t)offset, entry.size, entry.name);
        tempFile.write(record, ENTRY_SIZE);
        byteCount += ENTRY_SIZE;
    }

    unsigned long long dataSize = data.getSize();
    if (dataStart + dataSize > MAX_U32) throwTooLarge(name);
    copyBytes(data, tempFile, dataSize);
    byteCount += dataSize;

    tempFile.setPosMode(WFileIO::POS_BEGIN);
    tempFile.setPos(0);
    encodeHeader(header, (uint32_t)byteCount, entryCount);
    tempFile.write(header, HEADER_SIZE);

    tempFile.close();
    data.close();
    unlink(tempName);
    name = "";
}
