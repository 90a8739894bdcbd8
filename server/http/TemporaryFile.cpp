#include "TemporaryFile.h"

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
