#include "internal/CGIPipes.h"

#include "WException.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Descriptors 0 to 2 are the child's standard streams; our pipe ends must not
// sit there, or the dup2 of one end would overwrite another.
bool moveAboveStandardStreams(int& fd)
{
    if (fd > 2) return true;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    ::close(fd);
    fd = moved;
    return true;
}

bool makePipe(int& readEnd, int& writeEnd)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd = fds[0];
    writeEnd = fds[1];
    return moveAboveStandardStreams(readEnd) && moveAboveStandardStreams(writeEnd);
}

} // namespace

void CGIPipes::create()
{
    if (!makePipe(stdoutRead, stdoutWrite)) throw WException("Cannot create StdOutRd pipe.", -1);
    if (!makePipe(stderrRead, stderrWrite)) throw WException("Cannot create StdErrRd pipe.", -1);
    // Our ends are served by poll(), so they must not block.
    if (fcntl(stdoutRead, F_SETFL, O_NONBLOCK) != 0 || fcntl(stderrRead, F_SETFL, O_NONBLOCK) != 0)
        throw WException("Cannot set StdOut handle information.", -1);
    if (!makePipe(stdinRead, stdinWrite)) throw WException("Cannot create StdIn pipe.", -1);
    if (fcntl(stdinWrite, F_SETFL, O_NONBLOCK) != 0) throw WException("Cannot set StdIn handle information.", -1);
}

bool CGIPipes::closeOne(int& fd)
{
    if (fd < 0) return true;
    int result = ::close(fd);
    fd = -1;
    // After EINTR the descriptor is gone on Linux all the same.
    return result == 0 || errno == EINTR;
}

void CGIPipes::close()
{
    closeOne(stdinRead);
    closeOne(stdinWrite);
    closeOne(stdoutRead);
    closeOne(stdoutWrite);
    closeOne(stderrWrite);
    closeOne(stderrRead);
}
