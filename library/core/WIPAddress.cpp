#include "WIPAddress.h"

#include "WException.h"
#include "internal/WSocketCore.h"
#include "WSocketUtils.h"

WIPAddress::WIPAddress() : port(0), ip(0)
{
}

WIPAddress::WIPAddress(unsigned long i, unsigned long p) : port(p), ip((uint32_t)i)
{
}

WIPAddress::WIPAddress(const char* host, unsigned long p) : port(p), ip(0)
{
    if (host == nullptr || host[0] == '\0') return;
    if (WSocketUtils::isIpAddress(host))
        ip = (uint32_t)WSocketUtils::ipAddr2NBO(host);
    else
        ip = (uint32_t)WSocketUtils::resolveHost(host);
}

const char* WIPAddress::getIpAddressStr() const
{
    return WSocketCore::dotted(ip);
}

const WString& WIPAddress::getHostname() const
{
    if (hostName.length() == 0) {
        try {
            hostName = WSocketUtils::resolveIpAddress(ip);
        } catch (WUnknownHostException&) {
            hostName = "<unknown>";
        }
    }
    return hostName;
}
