#include "WDirectoryEntries.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "internal/WFileStatus.h"
#include "WWildcard.h"

// The running search: an open directory with the name pattern for wildcard
// searches, or one name to look up once otherwise.
struct WDirectoryEntries::Search {
    DIR* dir = nullptr;
    WString folder;
    WString pattern;
    bool exactPending = false;

    ~Search()
    {
        if (dir != nullptr) closedir(dir);
    }
};

namespace {

// Attribute bits in the form the callers test: 0x10 folder, 0x01 read-only,
// 0x02 hidden (a dot-name), 0x80 a plain file with no other bit.
uint32_t attributesOf(const char* name, const WFileStatus& status)
{
    uint32_t bits = 0;
    if (status.isDirectory()) bits |= WFileInfo::ATTRIBUTE_DIRECTORY;
    if ((status.mode & S_IWUSR) == 0) bits |= WFileInfo::ATTRIBUTE_READONLY;
    if (name[0] == '.' && strcmp(name, ".") != 0 && strcmp(name, "..") != 0) bits |= WFileInfo::ATTRIBUTE_HIDDEN;
    return bits != 0 ? bits : (uint32_t)WFileInfo::ATTRIBUTE_NORMAL;
}

// A link is described by what it points at; a dangling one by itself.
bool describe(int dirFd, const char* path, WFileStatus& status)
{
    return WFileStatus::query(dirFd, path, false, status) || WFileStatus::query(dirFd, path, true, status);
}

} // namespace

WDirectoryEntries::WDirectoryEntries(const char* directory, const char* pattern) : findHandle(new Search), hasEntry(0)
{
    WString search(directory);
    if (pattern[0] != '\0') {
        search.append("/");
        search.append(pattern);
    }
    // Wildcards apply to the last component only.
    long slash = search.lastIndexOf('/');
    if (slash < 0) {
        findHandle->folder = ".";
        findHandle->pattern = search;
    } else {
        if (slash == 0)
            findHandle->folder = "/";
        else
            search.substring(0, (unsigned long)slash, findHandle->folder);
        search.substring((unsigned long)slash + 1, findHandle->pattern);
    }

    if (findHandle->pattern.length() == 0) return;
    if (WWildcard::hasWildcards(findHandle->pattern))
        findHandle->dir = opendir(findHandle->folder);
    else
        findHandle->exactPending = true;
    findNext();
}

WDirectoryEntries::~WDirectoryEntries()
{
    delete findHandle;
}

bool WDirectoryEntries::nextEntry(WFileInfo& info)
{
    if (hasEntry == 0) return false;
    info = current;
    findNext();
    return true;
}

void WDirectoryEntries::findNext()
{
    hasEntry = 0;
    Search& s = *findHandle;
    WFileStatus status;
    if (s.exactPending) {
        s.exactPending = false;
        WString path(s.folder);
        path.append("/");
        path.append(s.pattern);
        if (describe(AT_FDCWD, path, status)) {
            current.set(s.pattern, attributesOf(s.pattern, status), status.isDirectory() ? 0 : status.size,
                status.created, status.accessed, status.modified);
            hasEntry = 1;
        }
        return;
    }
    if (s.dir == nullptr) return;
    while (struct dirent* d = readdir(s.dir)) {
        if (!WWildcard::matches(s.pattern, d->d_name)) continue;
        // An entry removed since the listing began is passed over.
        if (!describe(dirfd(s.dir), d->d_name, status)) continue;
        current.set(d->d_name, attributesOf(d->d_name, status), status.isDirectory() ? 0 : status.size, status.created,
            status.accessed, status.modified);
        hasEntry = 1;
        return;
    }
}
