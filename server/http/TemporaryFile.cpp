#include "TemporaryFile.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

int openUnlinkedTemporaryFile()
{
    const char* folder = getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
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
