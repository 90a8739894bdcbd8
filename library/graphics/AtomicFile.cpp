#include "internal/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace wgfx {
namespace {

// Where the bytes really go: the target of a symbolic link.
std::string targetOf(const char* path)
{
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path, nullptr)) {
            std::string resolved(real);
            free(real);
            return resolved;
        }
    }
    return path;
}

bool writeAll(int fd, const uint8_t* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t done = write(fd, bytes, size < size_t(SSIZE_MAX) ? size : size_t(SSIZE_MAX));
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += done;
        size -= size_t(done);
    }
    return true;
}

// A new file beside target, made with O_EXCL so it is ours alone; the mode
// 0666 lets the umask decide as for any new file.
int createBeside(const std::string& target, std::string& name)
{
    static std::atomic<unsigned> counter {0};
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "." + base + "." + std::to_string(getpid()) + "." + std::to_string(counter++) + ".tmp";
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

} // namespace

bool replaceFile(const char* path, const uint8_t* bytes, size_t size)
{
    if (path == nullptr || *path == '\0') return false;
    const std::string target = targetOf(path);
    std::string temporary;
    const int fd = createBeside(target, temporary);
    if (fd < 0) return false;
    struct stat old;
    bool ok = true;
    if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ok = fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && writeAll(fd, bytes, size) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

} // namespace wgfx
