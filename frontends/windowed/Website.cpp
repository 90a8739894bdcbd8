#include "Website.h"

#include <cstring>
#include <sys/stat.h>

#include "WException.h"
#include "WIPAddress.h"
#include "WString.h"

namespace Website {

WString fileAddress(const char* path)
{
    static const char HEX[] = "0123456789ABCDEF";
    WString address("file://");
    for (const char* p = path != nullptr ? path : ""; *p != '\0'; p++) {
        unsigned char c = (unsigned char)*p;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || strchr("/-._~", c) != nullptr;
        if (plain) {
            char text[2] = {(char)c, '\0'};
            address.append(text);
        } else {
            char text[4] = {'%', HEX[c >> 4], HEX[c & 15], '\0'};
            address.append(text);
        }
    }
    return address;
}

WString readmeAddress(const char* homeFolder)
{
    WString path(homeFolder != nullptr ? homeFolder : "");
    path.append("/README.md");
    struct stat info;
    if (stat(path.getBuf(), &info) != 0 || !S_ISREG(info.st_mode)) return WString();
    return fileAddress(path.getBuf());
}

WString startPageAddress(const char* host, unsigned int port)
{
    // Resolved as the server resolves it when it binds.
    WString address(host != nullptr ? host : "");
    try {
        WIPAddress listening(address, port);
        address = listening.getIpAddress() != 0 ? listening.getIpAddressStr() : "127.0.0.1";
    } catch (WException&) {
        // Not resolvable now: the host as it was given.
    }
    return WFormattedString("http://%s:%u/", address.getBuf(), port);
}

} // namespace Website
