#include "Website.h"

#include <cstring>
#include <sys/stat.h>

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
    const char* name = host != nullptr ? host : "";
    if (*name == '\0' || strcmp(name, "0.0.0.0") == 0 || strcmp(name, "::") == 0) name = "localhost";
    bool ipv6 = strchr(name, ':') != nullptr && name[0] != '[';
    return WFormattedString(ipv6 ? "http://[%s]:%u/" : "http://%s:%u/", name, port);
}

} // namespace Website
