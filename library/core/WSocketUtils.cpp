#include "WSocketUtils.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "WException.h"
#include "internal/WSocketCore.h"

namespace {

// A ping that cannot get through gives up after this long, so that stopping a
// server whose listen queue is full cannot hang.
constexpr long PING_TIMEOUT_MS = 5000;

// errno for a failed name lookup: the system's when it gave one, else none.
int lookupError(int rc)
{
    return rc == EAI_SYSTEM ? errno : 0;
}

} // namespace

void WSocketUtils::startup()
{
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void WSocketUtils::shutdown()
{
}

unsigned long WSocketUtils::resolveHost(const char* name)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = name != nullptr ? getaddrinfo(name, nullptr, &hints, &found) : EAI_NONAME;
    if (rc != 0 || found == nullptr)
        WSocketCore::failHost(lookupError(rc), -1, "Cannot resolve host %s", name != nullptr ? name : "");
    unsigned long ip = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return ip;
}

const char* WSocketUtils::resolveIpAddress(unsigned long ip)
{
    thread_local char name[NI_MAXHOST];
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = (uint32_t)ip;
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, name, sizeof name, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) WSocketCore::failHost(lookupError(rc), -1, "Cannot resolve IP %s", WSocketCore::dotted((uint32_t)ip));
    return name;
}

unsigned long WSocketUtils::ipAddr2NBO(const char* text)
{
    // inet_addr's rules: "127.1" is 127.0.0.1; all ones when it does not parse.
    return text != nullptr ? (uint32_t)inet_addr(text) : (uint32_t)INADDR_NONE;
}

const char* WSocketUtils::ipAddr2String(unsigned long ip)
{
    return WSocketCore::dotted((uint32_t)ip);
}

bool WSocketUtils::isIpAddress(const char* text)
{
    return ipAddr2NBO(text) != (uint32_t)INADDR_NONE;
}

void WSocketUtils::getLocalHost(WString& name)
{
    if (name.getBufLength() < 129) name.resize(128);
    unsigned long capacity = name.getBufLength() - 1;
    char* buffer = name.getBuf();
    if (gethostname(buffer, capacity) != 0) buffer[0] = '\0';
    buffer[capacity - 1] = '\0'; // the name is cut to capacity minus one
    name.truncate(strlen(buffer));
}

unsigned long WSocketUtils::getLocalIpAddress()
{
    WString name;
    getLocalHost(name);
    return resolveHost(name);
}

void WSocketUtils::getLocalIpAddress(WString& text)
{
    text = ipAddr2String(getLocalIpAddress());
}

void WSocketUtils::close(WSocketHandle s, int how)
{
    ::shutdown(s, how);
    ::close(s);
}

int WSocketUtils::read(WSocketHandle s, void* buffer, unsigned long length, unsigned long& got, bool peek)
{
    got = 0;
    if (length == 0) return 0;
    long n = WSocketCore::receive(s, buffer, length, peek ? MSG_PEEK : 0);
    got = (unsigned long)n;
    return (int)n;
}

void WSocketUtils::write(WSocketHandle s, const void* data, unsigned long length)
{
    WSocketCore::sendAll(s, data, length);
}

bool WSocketUtils::readln(WSocketIO* io, WString& line)
{
    line.assign("");
    WSocketCore::LineGatherer gatherer(line, WSocket::MAX_LINE_LENGTH);
    for (;;) {
        char c;
        try {
            if (io->read(&c, 1, false) <= 0) {
                // A non-blocking stream with nothing ready yet: look again
                // shortly rather than spin.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
        } catch (WSocketException& e) {
            if (e.getId() == -6) return false;
            throw;
        }
        if (gatherer.add(c)) return true;
    }
}

void WSocketUtils::ping(const WSocket& server)
{
    uint32_t ip = server.getAddress().sin_addr.s_addr;
    if (ip == htonl(INADDR_ANY)) ip = htonl(INADDR_LOOPBACK);
    uint16_t port = server.getAddress().sin_port;
    if (server.getPort() > 0xFFFF)
        WSocketCore::fail(EINVAL, -2, "Cannot connect to %s:%lu", WSocketCore::dotted(ip), server.getPort());

    int fd = WSocketCore::openSocket(false);
    if (fd < 0) WSocketCore::fail(errno, -3, "Cannot create socket.");
    int rc = WSocketCore::connectTo(fd, ip, port, PING_TIMEOUT_MS);
    if (rc != 0) {
        ::close(fd);
        WSocketCore::fail(rc, -2, "Cannot connect to %s:%u", WSocketCore::dotted(ip), (unsigned)ntohs(port));
    }
    close(fd, SHUT_WR);
}

bool WSocketUtils::isTransientAcceptError(int err)
{
    switch (err) {
    case EINTR:
    // A connection that died in the queue, or a network error the system
    // passes on.
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EPERM: // a firewall rule refused this one connection
        return true;
    default:
        return false;
    }
}

bool WSocketUtils::isResourceExhaustion(int err)
{
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}
