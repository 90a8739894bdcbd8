#include "RequestBody.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "TemporaryFile.h"

RequestBody::~RequestBody()
{
    reset();
}

void RequestBody::reset()
{
    if (fileFd >= 0) {
        ::close(fileFd);
        fileFd = -1;
    }
    TemporarySpace::release(reserved);
    reserved = 0;
    // A large buffer is not kept for the next request.
    if (memory.capacity() > MEMORY_LIMIT) std::string().swap(memory);
    memory.clear();
    length = 0;
}

bool RequestBody::append(const char* data, size_t n)
{
    if (n == 0) return true;
    if (fileFd < 0 && length + n <= MEMORY_LIMIT) {
        memory.append(data, n);
        length += n;
        return true;
    }
    // The file's bytes count towards the server's cap on temporary space.
    uint64_t grows = fileFd < 0 ? length + n : n;
    if (!TemporarySpace::reserve(grows)) return false;
    reserved += grows;
    if (fileFd < 0) {
        fileFd = openUnlinkedTemporaryFile();
        if (fileFd < 0) return false;
        // What was in memory goes first.
        if (!writeAllAt(fileFd, memory.data(), memory.size(), 0)) return false;
        std::string().swap(memory);
    }
    if (!writeAllAt(fileFd, data, n, length)) return false;
    length += n;
    return true;
}

long RequestBody::read(uint64_t offset, void* buffer, size_t n) const
{
    if (offset >= length) return 0;
    if (n > length - offset) n = (size_t)(length - offset);
    if (fileFd < 0) {
        memcpy(buffer, memory.data() + offset, n);
        return (long)n;
    }
    for (;;) {
        ssize_t r = ::pread(fileFd, buffer, n, (off_t)offset);
        if (r < 0 && errno == EINTR) continue;
        return r < 0 ? -1 : (long)r;
    }
}
