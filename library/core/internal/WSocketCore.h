#pragma once

// Internal to the library: the descriptor block that copies of a WSocket
// share, and the system-call loops behind the socket classes.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "WString.h"

struct WSocketShared {
    explicit WSocketShared(int descriptor) : fd(descriptor) { }

    std::atomic<int> shares {1};
    int fd;
    // Bytes received ahead by line reading and not delivered yet: [start, end).
    uint32_t start = 0;
    uint32_t end = 0;
    char ahead[4096];
};

namespace WSocketCore {

// Formats the message (at most 512 characters), sets errno to err and throws
// WSocketException with the id.
[[noreturn]] void fail(int err, int id, const char* format, ...) W_PRINTF_FORMAT(3, 4);
// The same for WUnknownHostException.
[[noreturn]] void failHost(int err, int id, const char* format, ...) W_PRINTF_FORMAT(3, 4);

// One receive: the count (> 0), or 0 when a non-blocking socket has nothing.
// Throws "Read timeout" (-5) and "Connection was closed." (-6).
long receive(int fd, void* buffer, size_t length, int flags);
// Sends every byte or throws "Cannot write into socket." (-3).
void sendAll(int fd, const void* data, size_t length);
// The same for two blocks, handed to the system together (one segment for a
// short line and its line feed, rather than two).
void sendAll(int fd, const void* first, size_t firstLength, const void* second, size_t secondLength);
// Waits without limit until the descriptor is ready for events; false when
// the wait failed (a kill in a NoKillScope, or a bad descriptor).
bool waitReady(int fd, short events);
bool isNonBlocking(int fd);

// A new IPv4 socket, close-on-exec; -1 with errno on failure.
int openSocket(bool datagram);
// Connects fd to the address, completing an interrupted or non-blocking
// connect; waits at most timeoutMs (negative: no limit). 0 or an errno.
int connectTo(int fd, uint32_t ip, uint16_t portNbo, long timeoutMs);

// Dotted text of an address in network byte order, in a per-thread buffer.
const char* dotted(uint32_t ip);

// Gathers a line byte by byte the way readln delivers it: CRs dropped, LF
// ends it, the bytes appended as C texts in 255-byte pieces (a NUL ends its
// piece's part). More than `maxLength` characters throw "Line too long." (-4).
class LineGatherer {
public:
    LineGatherer(WString& target, unsigned long maxLength) : line(target), limit(maxLength) { }
    // True when c ended the line.
    bool add(char c);

private:
    WString& line;
    unsigned long limit;
    char chunk[256];
    unsigned pos = 0;
    unsigned long length = 0;
};

} // namespace WSocketCore
