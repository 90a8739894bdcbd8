#include "InstanceMutex.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const InstanceMutex::NAME = "Global\\{6B1F0C52-94A7-4E3D-A8C1-5D27E9B06F41}";

namespace {

std::string lockDirectory()
{
    const char* chosen = getenv("ZORVANE_LOCK_DIR");
    if (chosen != nullptr && *chosen != '\0') return chosen;
    struct stat info;
    if (stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) && access("/run/lock", W_OK) == 0) return "/run/lock";
    return "/tmp";
}

// The file name for a mutex name: what follows the namespace prefix.
std::string lockFileBase(const char* name)
{
    std::string text = name != nullptr ? name : "";
    size_t slash = text.find_last_of("\\/");
    if (slash != std::string::npos) text = text.substr(slash + 1);
    return "zorvane-" + text;
}

// Opens without creating first: in a sticky directory creating another
// user's file fails even when opening it works.
int openShared(const std::string& path)
{
    for (int tries = 0; tries < 10; tries++) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) return fd;
        fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            fchmod(fd, 0644);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

int lockRetrying(int fd, int operation)
{
    int rc;
    do {
        rc = flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

} // namespace

InstanceMutex::InstanceMutex(const char* name) : lastError(0), mutex(-1)
{
    std::string base = lockDirectory() + "/" + lockFileBase(name);
    int guard = openShared(base + ".guard");
    mutex = openShared(base + ".lock");
    if (mutex < 0) {
        lastError = (unsigned long)errno;
        if (guard >= 0) ::close(guard);
        return;
    }
    // The guard makes "is anybody there" and "I am here" one step.
    if (guard >= 0) lockRetrying(guard, LOCK_EX);
    if (lockRetrying(mutex, LOCK_EX | LOCK_NB) != 0)
        lastError = errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : (unsigned long)errno;
    lockRetrying(mutex, LOCK_SH);
    if (guard >= 0) ::close(guard);
}

InstanceMutex::~InstanceMutex()
{
    if (mutex >= 0) ::close(mutex);
    mutex = -1;
}

InstanceMutex& instanceMutex()
{
    static InstanceMutex lock(InstanceMutex::NAME);
    return lock;
}

namespace {
// Taken before main runs, in both programs.
struct TakeAtStart {
    TakeAtStart() { instanceMutex(); }
} g_takeAtStart;
} // namespace
