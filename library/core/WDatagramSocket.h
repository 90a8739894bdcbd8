#pragma once

#include "WSocket.h"

// A UDP socket (make it with create(true)).
class WDatagramSocket : public WSocket {
public:
    WDatagramSocket() = default;
    WDatagramSocket(const WDatagramSocket& other) = default;
    WDatagramSocket& operator=(const WDatagramSocket& other) = default;
    virtual ~WDatagramSocket();

    // The multicast time-to-live; true when the system accepted it.
    bool setTTL(int ttl);
};
