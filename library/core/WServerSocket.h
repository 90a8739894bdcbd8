#pragma once

#include "WSocket.h"

// A listening TCP socket.
class WServerSocket : public WSocket {
public:
    WServerSocket();
    // Any address, the given port.
    explicit WServerSocket(unsigned long port);
    WServerSocket(const WIPAddress& address, int backlog);
    WServerSocket(const WServerSocket& other) = default;
    WServerSocket& operator=(const WServerSocket& other) = default;
    virtual ~WServerSocket();

    void setBacklog(int b) { backlog = b; }
    int getBacklog() const { return backlog; }

    // Socket, address reuse, bind ("Cannot bind to %s:%u", -7; the socket
    // stays open), the bound address read back (port 0 becomes the chosen
    // port), listen ("Cannot listen socket.", -8).
    void create();
    // Waits for a connection and gives it to client (address = the peer's);
    // client gives up the share it held before. False when a non-blocking
    // listener has nothing pending. "Cannot accept socket." (-9) otherwise.
    bool accept(WSocket& client);

private:
    int backlog;
};
