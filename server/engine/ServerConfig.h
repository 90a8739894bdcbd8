#pragma once

#include <cstdint>

#include "WString.h"

// The settings a front-end hands to the server; the server copies it, and
// copies it again into each worker when it starts them.
class ServerConfig {
public:
    ServerConfig();
    ServerConfig(const ServerConfig& other) = default;
    ServerConfig& operator=(const ServerConfig& other);
    ~ServerConfig() = default;

    // A port number as written in an option or cfg/init.txt: leading blanks,
    // an optional sign and the leading digits, 0 when there are none (as atoi
    // reads it), but never wrapped: a number too large stays beyond 65535
    // (4294967376 must not become port 80).
    static long long readPort(const char* text);

    WString host; // host name or dotted address to listen on
    uint32_t port; // TCP port to listen on
    WString documentPath; // folder served as the document root
    WString serverAdmin; // administrator contact, carried along
    WString startURL; // opened in the browser once listening; empty = none
    int32_t autoFinish; // automatic-finish code of the console front-end
    // MiB that temporary files may hold together (answers waiting for slow
    // clients, request bodies); 0: half of the temporary folder's free space
    // at start.
    uint64_t tempSpaceLimit = 0;
};
