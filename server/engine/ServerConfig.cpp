#include "ServerConfig.h"

#include "WSystem.h"

ServerConfig::ServerConfig() : host("localhost"), port(80), serverAdmin("webmaster@localhost"), autoFinish(0)
{
    WSystem::getCurrentDirectory(documentPath);
    documentPath.replace('\\', '/');
}

ServerConfig& ServerConfig::operator=(const ServerConfig& other)
{
    host = other.host;
    port = other.port;
    documentPath = other.documentPath;
    serverAdmin = other.serverAdmin;
    startURL = other.startURL;
    autoFinish = other.autoFinish;
    tempSpaceLimit = other.tempSpaceLimit;
    return *this;
}

long long ServerConfig::readPort(const char* text)
{
    const long long beyond = 1000000000000000000LL; // any larger number is refused alike
    const char* p = text != nullptr ? text : "";
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        p++;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p++ == '-';
    }
    long long n = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        // Checked before multiplying, so that no number of digits overflows.
        n = n >= beyond / 10 ? beyond : n * 10 + (*p - '0');
    }
    return negative ? -n : n;
}
