#pragma once

#include <cstdint>

#include "WString.h"

// An IPv4 address (network byte order) with a port (host byte order) and the
// host name found for it, looked up once on demand.
class WIPAddress {
public:
    WIPAddress();
    // ip in network byte order.
    WIPAddress(unsigned long ip, unsigned long port);
    // "" means any address; a dotted address is taken as it is; anything
    // else is resolved (WUnknownHostException "Cannot resolve host %s").
    WIPAddress(const char* host, unsigned long port);

    unsigned long getIpAddress() const { return ip; }
    unsigned long getPort() const { return port; }
    // Dotted text in a per-thread buffer, valid until the next such call.
    const char* getIpAddressStr() const;
    // The cached name; looked up by address the first time ("<unknown>" when
    // the lookup fails, and that stays).
    const WString& getHostname() const;

private:
    unsigned long port; // as given: the sockets refuse ports above 65535
    uint32_t ip;
    mutable WString hostName;
};
