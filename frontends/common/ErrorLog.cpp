#include "ErrorLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "WDate.h"
#include "WString.h"

namespace ErrorLog {

namespace {

bool writeAll(int fd, const char* p, unsigned long left)
{
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= (unsigned long)n;
    }
    return true;
}

const char CHAIN_SEPARATOR[] = "\r\n   ->";

} // namespace

WString escapeControlBytes(const char* text, LineBreaks breaks)
{
    static const char HEX[] = "0123456789abcdef";
    WString out;
    if (text == nullptr) return out;
    const char* p = text;
    while (*p != '\0') {
        unsigned char c = (unsigned char)*p;
        if (c >= 0x20 && c != 0x7f) {
            const char* start = p;
            while ((unsigned char)*p >= 0x20 && (unsigned char)*p != 0x7f)
                p++;
            out.append(reinterpret_cast<const unsigned char*>(start), (unsigned long)(p - start));
            continue;
        }
        if (c == '\n' && breaks == LineBreaks::Keep) {
            out.append('\n');
        } else if (c == '\r' && std::strncmp(p, CHAIN_SEPARATOR, sizeof CHAIN_SEPARATOR - 1) == 0) {
            out.append(CHAIN_SEPARATOR);
            p += sizeof CHAIN_SEPARATOR - 1;
            continue;
        } else {
            char escaped[4] = {'\\', 'x', HEX[c >> 4], HEX[c & 15]};
            out.append(reinterpret_cast<const unsigned char*>(escaped), 4);
        }
        p++;
    }
    return out;
}

Result append(const char* time, const char* message)
{
    WString line(time);
    line.append(": ");
    line.append(escapeControlBytes(message, LineBreaks::Escape));
    line.append("\r\n");
    // O_NONBLOCK: opening a FIFO for writing would otherwise wait for a reader.
    int fd = ::open(FILE_NAME, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) return errno == ENXIO ? Result::NotRegularFile : Result::Failed;
    struct stat info;
    Result result = Result::Written;
    if (::fstat(fd, &info) != 0)
        result = Result::Failed;
    else if (!S_ISREG(info.st_mode))
        result = Result::NotRegularFile;
    else if (!writeAll(fd, line.getBuf(), line.length()))
        result = Result::Failed;
    int saved = errno;
    ::close(fd);
    errno = saved;
    return result;
}

Result append(const char* message)
{
    WDate now;
    WString time(now.format(WDate::TIME_FORMAT_LOG));
    return append(time.getBuf(), message);
}

} // namespace ErrorLog
