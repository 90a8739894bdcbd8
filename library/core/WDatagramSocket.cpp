#include "WDatagramSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>

WDatagramSocket::~WDatagramSocket() = default;

bool WDatagramSocket::setTTL(int ttl)
{
    return getHandle() >= 0 && setsockopt(getHandle(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0;
}
