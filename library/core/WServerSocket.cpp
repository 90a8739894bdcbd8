#include "WServerSocket.h"

#include <cerrno>

#include <arpa/inet.h>
#include <sys/socket.h>

#include "WException.h"
#include "WIPAddress.h"
#include "WSocketUtils.h"
#include "internal/WSocketCore.h"
#include "internal/WThreadControl.h"

WServerSocket::WServerSocket() : backlog(1)
{
}

WServerSocket::WServerSocket(unsigned long port) : backlog(1)
{
    init(0ul, port);
}

WServerSocket::WServerSocket(const WIPAddress& a, int b) : backlog(b)
{
    init(a);
}

WServerSocket::~WServerSocket() = default;

void WServerSocket::create()
{
    drop();
    int fd = WSocketCore::openSocket(false);
    if (fd < 0) WSocketCore::fail(errno, -3, "Cannot create socket.");
    attach(fd);
    setReuseAddress(true);
    if (!hasValidPort())
        WSocketCore::fail(
            EINVAL, -7, "Cannot bind to %s:%lu", WSocketCore::dotted(address.sin_addr.s_addr), requestedPort);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        WSocketCore::fail(errno, -7, "Cannot bind to %s:%u", WSocketCore::dotted(address.sin_addr.s_addr),
            (unsigned)ntohs(address.sin_port));
    sockaddr_in bound;
    socklen_t size = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
        address = bound;
        requestedPort = ntohs(bound.sin_port);
    }
    if (::listen(fd, backlog) != 0) WSocketCore::fail(errno, -8, "Cannot listen socket.");
}

bool WServerSocket::accept(WSocket& client)
{
    int listener = getHandle();
    for (;;) {
        if (WThreadKill::checkPoint()) WSocketCore::fail(ECANCELED, -9, "Cannot accept socket.");
        sockaddr_in peer;
        socklen_t size = sizeof peer;
        int fd;
        {
            WThreadKill::BlockingCall call(listener);
            fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
        }
        if (fd >= 0) {
            client.attach(fd);
            client.address = peer;
            client.requestedPort = ntohs(peer.sin_port);
            return true;
        }
        int e = errno;
        if (WThreadKill::requested()) {
            WThreadKill::end();
            WSocketCore::fail(e, -9, "Cannot accept socket.");
        }
        if (e == EAGAIN) return false; // nothing pending on a non-blocking listener
        if (WSocketUtils::isTransientAcceptError(e)) continue;
        WSocketCore::fail(e, -9, "Cannot accept socket.");
    }
}
