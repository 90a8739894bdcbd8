#pragma once

#include "WSocket.h"

// The static services of the sockets layer. Addresses are IPv4 in network
// byte order; dotted texts live in a per-thread buffer, valid until the next
// such call on the same thread.
class WSocketUtils {
public:
    // Prepares the process for sockets: SIGPIPE is ignored (a peer that went
    // away must fail a write, not end the program).
    static void startup();
    static void shutdown();

    // The first IPv4 address of the host; WUnknownHostException "Cannot resolve host %s".
    static unsigned long resolveHost(const char* name);
    // The name of the address; WUnknownHostException "Cannot resolve IP %s".
    static const char* resolveIpAddress(unsigned long ip);
    // The dotted text as an address, all ones when it does not parse.
    static unsigned long ipAddr2NBO(const char* text);
    static const char* ipAddr2String(unsigned long ip);
    // True for a dotted address other than 255.255.255.255.
    static bool isIpAddress(const char* text);

    static void getLocalHost(WString& name);
    static unsigned long getLocalIpAddress();
    static void getLocalIpAddress(WString& text);

    // Shuts a raw descriptor down in direction how, then closes it.
    static void close(WSocketHandle s, int how);
    // One receive on a raw descriptor (see WSocket::read); got = the count.
    static int read(WSocketHandle s, void* buffer, unsigned long length, unsigned long& got, bool peek);
    static void write(WSocketHandle s, const void* data, unsigned long length);
    // Line reading through any stream, one byte per read; lines are capped
    // as WSocket::readln caps them ("Line too long.", -4).
    static bool readln(WSocketIO* io, WString& line);
    // Connects to the server socket's address once and closes again, to wake
    // a thread blocked in its accept. A server bound to any address (0.0.0.0)
    // is reached at 127.0.0.1.
    static void ping(const WSocket& server);

    // accept() failures of one pending connection (or a signal): the next
    // connection may be tried at once.
    static bool isTransientAcceptError(int err);
    // accept() failures for want of descriptors or memory.
    static bool isResourceExhaustion(int err);
};
