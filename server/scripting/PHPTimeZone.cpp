#include "internal/PHPTimeZone.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

const char ZONE_DIR[] = "/usr/share/zoneinfo";

std::string trim(std::string s)
{
    size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

// "Europe/Berlin" from ".../zoneinfo/Europe/Berlin" and its posix/ and right/ variants.
std::string afterZoneDir(const std::string& path)
{
    size_t at = path.rfind("zoneinfo/");
    if (at == std::string::npos) return path;
    std::string name = path.substr(at + 9);
    for (const char* prefix : {"posix/", "right/"}) {
        if (name.compare(0, strlen(prefix), prefix) == 0) name = name.substr(strlen(prefix));
    }
    return name;
}

bool isZoneName(const std::string& name, const char* zoneDir)
{
    if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos) return false;
    for (char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '_'
            || c == '-' || c == '+';
        if (!ok) return false;
    }
    // Files in the zone folder that are not zones.
    if (name == "localtime" || name == "posixrules" || name == "Factory") return false;
    struct stat st;
    std::string path = std::string(zoneDir) + "/" + name;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string pickTimeZoneName(const char* tz, const char* timezoneFile, const char* localtimeLink, const char* zoneDir)
{
    if (tz != nullptr && *tz != 0) {
        // ":Europe/Berlin", "Europe/Berlin" or a path to a zone file.
        std::string name = afterZoneDir(trim(tz[0] == ':' ? tz + 1 : tz));
        if (isZoneName(name, zoneDir)) return name;
    }
    if (timezoneFile != nullptr) {
        std::string name = trim(timezoneFile);
        if (isZoneName(name, zoneDir)) return name;
    }
    if (localtimeLink != nullptr) {
        std::string name = afterZoneDir(trim(localtimeLink));
        if (isZoneName(name, zoneDir)) return name;
    }
    return "";
}

std::string systemTimeZoneName()
{
    std::string timezoneFile;
    bool haveFile = false;
    std::ifstream in("/etc/timezone");
    if (in) {
        std::getline(in, timezoneFile);
        haveFile = true;
    }
    char link[512];
    ssize_t n = readlink("/etc/localtime", link, sizeof(link) - 1);
    if (n > 0) link[n] = 0;
    return pickTimeZoneName(getenv("TZ"), haveFile ? timezoneFile.c_str() : nullptr, n > 0 ? link : nullptr, ZONE_DIR);
}
