#include "PathResolver.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace PathResolver {

int openReadableFile(const char* path)
{
    // O_NONBLOCK keeps a FIFO from blocking the open.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isReadableFile(const char* path)
{
    int fd = openReadableFile(path);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

FileType typeOf(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        return FileType::Missing;
    }
    return S_ISDIR(st.st_mode) ? FileType::Directory : S_ISREG(st.st_mode) ? FileType::Regular : FileType::Other;
}

bool isRegularFile(const char* path)
{
    return typeOf(path) == FileType::Regular;
}

bool isDirectory(const char* path)
{
    return typeOf(path) == FileType::Directory;
}

bool exists(const char* path)
{
    return typeOf(path) != FileType::Missing;
}

namespace {

// A folder's size grows with its entries on every common file system; one
// this small is read in well under a millisecond.
const off_t SMALL_FOLDER_BYTES = 64 * 1024;

bool isLargeDirectory(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_size > SMALL_FOLDER_BYTES;
}

// Set while the thread routes under a RefusedScans scope.
thread_local bool t_scansRefused = false;
thread_local bool t_scanWanted = false;

} // namespace

RefusedScans::RefusedScans()
{
    t_scansRefused = true;
    t_scanWanted = false;
}

RefusedScans::~RefusedScans()
{
    t_scansRefused = false;
}

bool RefusedScans::wasScanRefused() const
{
    return t_scanWanted;
}

namespace {

// The entry of folder whose name equals name without regard to ASCII case;
// the first such name in byte order, so the choice never depends on the order
// the directory lists its entries in.
bool findEntry(const WString& folder, const WString& name, WString& found)
{
    DIR* dir = ::opendir(folder.length() > 0 ? folder.getBuf() : ".");
    if (dir == nullptr) {
        return false;
    }
    bool any = false;
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) {
            continue;
        }
        if (::strcasecmp(e->d_name, name.getBuf()) == 0 && (!any || std::strcmp(e->d_name, found.getBuf()) < 0)) {
            found = e->d_name;
            any = true;
        }
    }
    ::closedir(dir);
    return any;
}

void appendComponent(WString& path, const char* data, unsigned long n)
{
    if (path.length() > 0 && path.charAt(path.length() - 1) != '/') {
        path.append('/');
    }
    path.append(reinterpret_cast<const unsigned char*>(data), n);
}

// True when one of the components of path is "." or "..".
bool hasDotSegment(const char* path)
{
    const char* p = path;
    while (*p != '\0') {
        while (*p == '/') {
            p++;
        }
        const char* start = p;
        while (*p != '\0' && *p != '/') {
            p++;
        }
        size_t n = (size_t)(p - start);
        if ((n == 1 && start[0] == '.') || (n == 2 && start[0] == '.' && start[1] == '.')) {
            return true;
        }
    }
    return false;
}

} // namespace

WString resolve(const char* root, const char* rest, FileType* type)
{
    WString exact = WString(root) + rest;
    FileType exactType = typeOf(exact);
    if (type != nullptr) {
        *type = exactType;
    }
    // Dot segments never take part in a search: the search must stay below root.
    if (exactType != FileType::Missing || hasDotSegment(rest)) {
        return exact;
    }
    if (type != nullptr) {
        *type = FileType::Unknown;
    }
    WString path(root);
    const char* p = rest;
    while (*p != '\0') {
        while (*p == '/') {
            p++;
        }
        const char* start = p;
        while (*p != '\0' && *p != '/') {
            p++;
        }
        unsigned long n = (unsigned long)(p - start);
        if (n == 0) {
            break;
        }
        WString name(start, n);
        WString candidate(path);
        appendComponent(candidate, start, n);
        if (exists(candidate)) {
            path = candidate;
            continue;
        }
        WString found;
        if (t_scansRefused && isLargeDirectory(path.length() > 0 ? path.getBuf() : ".")) {
            t_scanWanted = true;
            return exact;
        }
        if (!isDirectory(path.length() > 0 ? path.getBuf() : ".") || !findEntry(path, name, found)) {
            return exact;
        }
        appendComponent(path, found.getBuf(), found.length());
    }
    unsigned long restLength = std::strlen(rest);
    if (restLength > 0 && rest[restLength - 1] == '/') {
        path.append('/');
    }
    return path;
}

} // namespace PathResolver
