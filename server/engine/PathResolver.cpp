#include "PathResolver.h"

#include "SettledChange.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

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
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

bool isReadableFile(const char* path, FileType known)
{
    if (known == FileType::Regular) return ::access(path, R_OK) == 0;
    if (known != FileType::Unknown) return false;
    int fd = openReadableFile(path);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

WString absoluteFolder(const char* folder)
{
    if (*folder == '\0' || *folder == '/' || *folder == '$') return folder;
    char cwd[4096];
    if (::getcwd(cwd, sizeof(cwd)) == nullptr) return folder;
    std::string path(folder);
    while (path.compare(0, 2, "./") == 0)
        path.erase(0, path.find_first_not_of('/', 1));
    if (path == ".") path.clear();
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    std::string absolute(cwd);
    if (!path.empty()) absolute += (absolute == "/" ? "" : "/") + path;
    return absolute.c_str();
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

// A folder's names by their lower-case form (the first in byte order for
// each), read once and used again while the folder is unchanged: every
// request for a folder whose first index file is missing asks.
struct Listing {
    struct timespec changed = {};
    ino_t inode = 0;
    dev_t device = 0;
    std::unordered_map<std::string, std::string> names;
};

std::mutex g_listingsLock;
std::unordered_map<std::string, std::shared_ptr<const Listing>> g_listings;
const size_t MAX_LISTINGS = 256;
// A listing read this soon after the folder's last change is not kept.
const int64_t SETTLED_NS = 1000000000;

std::string lowerCase(const char* text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return out;
}

std::shared_ptr<const Listing> readListing(const char* folder, const struct stat& st)
{
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        return nullptr;
    }
    auto listing = std::make_shared<Listing>();
    listing->changed = st.st_mtim;
    listing->inode = st.st_ino;
    listing->device = st.st_dev;
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) {
            continue;
        }
        auto placed = listing->names.emplace(lowerCase(e->d_name), e->d_name);
        if (!placed.second && std::strcmp(e->d_name, placed.first->second.c_str()) < 0) {
            placed.first->second = e->d_name;
        }
    }
    ::closedir(dir);
    return listing;
}

// How a folder's listing may be come by.
enum class Scan { Read, CachedOnly };

// The folder's listing, read now or kept from before while the folder is
// unchanged; null when it cannot be read, or (cacheMissed set) when it would
// have to be read and scan is CachedOnly.
std::shared_ptr<const Listing> listingOf(const char* path, const struct stat& st, Scan scan, bool& cacheMissed)
{
    cacheMissed = false;
    std::shared_ptr<const Listing> listing;
    {
        std::lock_guard<std::mutex> guard(g_listingsLock);
        auto known = g_listings.find(path);
        if (known != g_listings.end() && known->second->inode == st.st_ino && known->second->device == st.st_dev
            && known->second->changed.tv_sec == st.st_mtim.tv_sec
            && known->second->changed.tv_nsec == st.st_mtim.tv_nsec) {
            listing = known->second;
        }
    }
    if (listing) return listing;
    if (scan == Scan::CachedOnly) {
        cacheMissed = true;
        return nullptr;
    }
    listing = readListing(path, st);
    if (listing && changeHasSettled(nanosecondsOf(st.st_mtim), SETTLED_NS)) {
        std::lock_guard<std::mutex> guard(g_listingsLock);
        if (g_listings.size() >= MAX_LISTINGS) {
            g_listings.clear();
        }
        g_listings[path] = listing;
    }
    return listing;
}

// A large folder is read on a worker only; its listing, once read, serves
// everywhere.
Scan scanFor(const struct stat& folder)
{
    return t_scansRefused && folder.st_size > SMALL_FOLDER_BYTES ? Scan::CachedOnly : Scan::Read;
}

// The name in listing that equals name without regard to ASCII case: the
// first such name in byte order, so the choice never depends on the order
// the directory lists its entries in. Null when there is none.
const std::string* entryOf(const Listing& listing, const char* name)
{
    auto entry = listing.names.find(lowerCase(name));
    return entry == listing.names.end() ? nullptr : &entry->second;
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
        // The whole path was looked at first: no need to ask again.
        if (!candidate.equals(exact) && exists(candidate)) {
            path = candidate;
            continue;
        }
        const char* folder = path.length() > 0 ? path.getBuf() : ".";
        struct stat st;
        if (::stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)) {
            if (type != nullptr) {
                *type = FileType::Missing;
            }
            return exact;
        }
        bool cacheMissed = false;
        std::shared_ptr<const Listing> listing = listingOf(folder, st, scanFor(st), cacheMissed);
        const std::string* found = listing ? entryOf(*listing, name.getBuf()) : nullptr;
        if (found == nullptr) {
            if (cacheMissed) {
                t_scanWanted = true;
            } else if (type != nullptr) {
                // No name of any case: nothing is there.
                *type = FileType::Missing;
            }
            return exact;
        }
        appendComponent(path, found->data(), found->size());
    }
    unsigned long restLength = std::strlen(rest);
    if (restLength > 0 && rest[restLength - 1] == '/') {
        path.append('/');
    }
    return path;
}

long findReadableFile(const char* folder, const char* const* names, size_t count, WString& path)
{
    struct stat st;
    bool cacheMissed = false;
    std::shared_ptr<const Listing> listing;
    if (::stat(folder, &st) == 0 && S_ISDIR(st.st_mode)) listing = listingOf(folder, st, scanFor(st), cacheMissed);
    for (size_t i = 0; i < count; i++) {
        FileType type = FileType::Unknown;
        if (!listing) {
            path = resolve(folder, names[i], &type);
        } else {
            // The listing says which names are there at all: a missing one
            // costs no call.
            const std::string* entry = entryOf(*listing, names[i]);
            if (entry == nullptr) continue;
            path = folder;
            appendComponent(path, names[i], std::strlen(names[i]));
            type = typeOf(path);
            if (type == FileType::Missing) {
                path = folder;
                appendComponent(path, entry->data(), entry->size());
                type = FileType::Unknown;
            }
        }
        if (isReadableFile(path, type)) return (long)i;
    }
    path.clear();
    return -1;
}

} // namespace PathResolver
