#include "internal/WFileStatus.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Times before 1970 have no place in the unsigned seconds and become 0.
uint64_t seconds(const struct statx_timestamp& t)
{
    return t.tv_sec < 0 ? 0 : (uint64_t)t.tv_sec;
}

} // namespace

bool WFileStatus::isRegular() const
{
    return S_ISREG(mode);
}

bool WFileStatus::isDirectory() const
{
    return S_ISDIR(mode);
}

bool WFileStatus::query(int dirFd, const char* path, bool noFollow, WFileStatus& out)
{
    int flags = AT_STATX_SYNC_AS_STAT;
    if (path[0] == '\0') flags |= AT_EMPTY_PATH;
    if (noFollow) flags |= AT_SYMLINK_NOFOLLOW;
    struct statx st;
    if (statx(dirFd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) return false;
    out.mode = st.stx_mode;
    out.size = (int64_t)st.stx_size;
    out.accessed = seconds(st.stx_atime);
    out.modified = seconds(st.stx_mtime);
    out.created = (st.stx_mask & STATX_BTIME) != 0 ? seconds(st.stx_btime) : out.modified;
    return true;
}
