#include "AppIcon.h"
#include "internal/UserFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

// Generated from resources/zorvane.png at configure time.
extern const unsigned char ZORVANE_ICON_PNG[];
extern const unsigned long ZORVANE_ICON_PNG_SIZE;

namespace {

std::string dataHome()
{
    const char* xdg = getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') return std::string();
    return std::string(home) + "/.local/share";
}

bool sameContent(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    std::vector<unsigned char> bytes(ZORVANE_ICON_PNG_SIZE + 1);
    size_t got = 0;
    for (;;) {
        ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += (size_t)n;
        if (got == bytes.size()) break;
    }
    close(fd);
    return got == ZORVANE_ICON_PNG_SIZE && memcmp(bytes.data(), ZORVANE_ICON_PNG, got) == 0;
}

} // namespace

namespace AppIcon {

const unsigned char* png()
{
    return ZORVANE_ICON_PNG;
}
unsigned long size()
{
    return ZORVANE_ICON_PNG_SIZE;
}

std::string install()
{
    std::string base = dataHome();
    if (base.empty()) return std::string();
    std::string folder = base + "/icons";
    std::string target = folder + "/zorvane-gui.png";
    if (sameContent(target)) return target;
    if (!userfiles::makeDirectories(folder, 0755)) return std::string();
    std::string temporary = target + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return std::string();
    bool ok = userfiles::writeAll(fd, ZORVANE_ICON_PNG, ZORVANE_ICON_PNG_SIZE);
    ok = close(fd) == 0 && ok;
    ok = ok && fchmodat(AT_FDCWD, temporary.c_str(), 0644, 0) == 0 && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return std::string();
    }
    return target;
}

} // namespace AppIcon
