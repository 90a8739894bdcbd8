// Raw bytes as a client sends them: over a loopback connection into
// HTTPRequest::read, which collects the header block (carriage returns,
// NULs, limits, a peer that closes early) and parses it.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "FuzzCheck.h"
#include "HTTPRequest.h"
#include "UrlCodec.h"
#include "WException.h"
#include "WSocket.h"

namespace {

int g_listener = -1;
sockaddr_in g_address;

// Closes with a reset.
void closeHard(int fd)
{
    linger l = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

void setBuffer(int fd, int option, int bytes)
{
    setsockopt(fd, SOL_SOCKET, option, &bytes, sizeof bytes);
}

void sendAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        FUZZ_CHECK(n > 0);
        data += n;
        size -= (size_t)n;
    }
}

// libFuzzer's timer signal may interrupt connect(); the connection then
// completes in the background.
void connectTo(int fd)
{
    if (connect(fd, reinterpret_cast<const sockaddr*>(&g_address), sizeof g_address) == 0) return;
    if (errno != EINTR) {
        perror("connect");
        abort();
    }
    pollfd p = {fd, POLLOUT, 0};
    while (poll(&p, 1, -1) < 0)
        FUZZ_CHECK(errno == EINTR);
    int error = 0;
    socklen_t length = sizeof error;
    FUZZ_CHECK(getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(g_listener >= 0);
    memset(&g_address, 0, sizeof g_address);
    g_address.sin_family = AF_INET;
    g_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(bind(g_listener, reinterpret_cast<sockaddr*>(&g_address), sizeof g_address) == 0);
    socklen_t length = sizeof g_address;
    FUZZ_CHECK(getsockname(g_listener, reinterpret_cast<sockaddr*>(&g_address), &length) == 0);
    FUZZ_CHECK(listen(g_listener, 4) == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Larger than anything the reader accepts; a longer input adds nothing.
    if (size > 200000) return 0;
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(client >= 0);
    setBuffer(client, SO_SNDBUF, 1 << 20);
    connectTo(client);
    sockaddr_in peer;
    socklen_t peerLength = sizeof peer;
    int server;
    do
        server = accept4(g_listener, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
    while (server < 0 && errno == EINTR);
    FUZZ_CHECK(server >= 0);
    setBuffer(server, SO_RCVBUF, 1 << 20);
    sendAll(client, data, size);
    shutdown(client, SHUT_WR);

    {
        WSocket socket(server, peer);
        socket.setRecvTimeout(5000);
        HTTPRequest request(nullptr, nullptr);
        try {
            if (request.read(socket, "/nonexistent-docs") == HTTPRequest::ReadResult::Request) {
                FUZZ_CHECK(request.methodIndex >= 0 && request.methodIndex <= 4);
                FUZZ_CHECK(request.contentLength >= 0);
                FUZZ_CHECK(request.requestURI.getBuf()[0] == '/');
                FUZZ_CHECK(!hasParentSegment(request.scriptName));
                FUZZ_CHECK(request.remoteAddr.equals("127.0.0.1"));
                FUZZ_CHECK(request.documentRoot.equals("/nonexistent-docs"));
                // Nothing of the header block text keeps a CR or a NUL.
                request.headers.reset();
                while (request.headers.hasMoreElements()) {
                    FUZZ_CHECK(strchr(request.headers.currentKey(), '\r') == nullptr);
                    FUZZ_CHECK(strchr(request.headers.currentValue(), '\r') == nullptr);
                }
            }
        } catch (HTTPHeaderException&) {
            // answered with 400
        } catch (WSocketException& e) {
            // Every byte is there and the peer has closed: no time-out may occur.
            FUZZ_CHECK(e.getId() != -5);
        }
        // The server side goes first, with a reset and without a FIN: then
        // neither side is left in TIME_WAIT (millions of connections would
        // otherwise use up the local ports).
        linger l = {1, 0};
        setsockopt(socket.getHandle(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        socket.release();
    }
    closeHard(client);
    return 0;
}
