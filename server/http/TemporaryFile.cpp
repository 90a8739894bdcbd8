#include "TemporaryFile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const char* temporaryFolder()
{
    const char* folder = getenv("TMPDIR");
    return folder == nullptr || *folder == '\0' ? "/tmp" : folder;
}

std::atomic<uint64_t> g_limit {UINT64_MAX};
std::atomic<uint64_t> g_used {0};

} // namespace

int openUnlinkedTemporaryFile()
{
    const char* folder = temporaryFolder();
    int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = std::string(folder) + "/zorvane-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

bool writeAllAt(int fd, const char* data, size_t length, uint64_t offset)
{
    while (length > 0) {
        ssize_t n = ::pwrite(fd, data, length, (off_t)offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= (size_t)n;
        offset += (uint64_t)n;
    }
    return true;
}

void TemporarySpace::setLimit(uint64_t bytes)
{
    if (bytes == 0) {
        struct statvfs fs;
        bytes = statvfs(temporaryFolder(), &fs) == 0 ? (uint64_t)fs.f_bavail * fs.f_frsize / 2 : UINT64_MAX;
    }
    g_limit = bytes;
}

uint64_t TemporarySpace::getLimit()
{
    return g_limit.load();
}

bool TemporarySpace::reserve(uint64_t bytes)
{
    uint64_t used = g_used.load();
    do {
        if (used + bytes > g_limit.load() || used + bytes < used) {
            errno = EDQUOT;
            return false;
        }
    } while (!g_used.compare_exchange_weak(used, used + bytes));
    return true;
}

void TemporarySpace::release(uint64_t bytes)
{
    g_used -= bytes;
}

uint64_t TemporarySpace::inUse()
{
    return g_used.load();
}

const char* temporaryFileProblem(int errorNumber)
{
    return errorNumber == EDQUOT ? "the temporary space limit is reached" : strerror(errorNumber);
}
