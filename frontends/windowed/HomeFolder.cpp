#include "HomeFolder.h"

#include <sys/stat.h>

namespace {

// Build trees sit one level below the project (build/bin); look no higher,
// so a stray cfg/ further up is never taken.
constexpr int LEVELS_UP = 2;

bool holdsConfig(const std::string& folder)
{
    struct stat info;
    std::string cfg = (folder == "/" ? std::string() : folder) + "/cfg";
    return stat(cfg.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string parentOf(const std::string& folder)
{
    size_t end = folder.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    size_t slash = folder.rfind('/', end);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return folder.substr(0, folder.find_last_not_of('/', slash) + 1);
}

} // namespace

namespace HomeFolder {

std::string find(const std::string& programDirectory)
{
    std::string folder = programDirectory;
    for (int level = 0; level <= LEVELS_UP && !folder.empty(); level++) {
        if (holdsConfig(folder)) return folder;
        std::string parent = parentOf(folder);
        if (parent == folder) break;
        folder = parent;
    }
    return programDirectory;
}

} // namespace HomeFolder
