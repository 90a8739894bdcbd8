#include "internal/UserFiles.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace userfiles {

bool makeDirectories(const std::string& path, mode_t mode)
{
    for (size_t i = 1; i <= path.size(); i++) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

bool writeAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        // A write that takes nothing would never end.
        if (n <= 0) return false;
        done += (size_t)n;
    }
    return true;
}

} // namespace userfiles
