#include "internal/CGICommandLine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// The PATH the server started with, read once while the process has one
// thread: a script's PATH (its putenv() stays its own) is no business of the
// programs of other requests.
const std::string startPath = [] {
    const char* value = getenv("PATH");
    return std::string(value != nullptr ? value : "/usr/local/bin:/usr/bin:/bin");
}();

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void splitOnBlanks(const char* text, size_t length, std::vector<std::string>& out)
{
    size_t i = 0;
    while (i < length) {
        while (i < length && isBlank(text[i]))
            i++;
        size_t start = i;
        while (i < length && !isBlank(text[i]))
            i++;
        if (i > start) out.emplace_back(text + start, i - start);
    }
}

} // namespace

std::vector<std::string> splitCGICommandLine(const char* commandLine, const char* scriptPath)
{
    std::vector<std::string> argv;
    size_t lineLength = strlen(commandLine);
    size_t scriptLength = scriptPath != nullptr ? strlen(scriptPath) : 0;
    if (scriptLength > 0 && lineLength > scriptLength
        && strcmp(commandLine + lineLength - scriptLength, scriptPath) == 0
        && isBlank(commandLine[lineLength - scriptLength - 1])) {
        splitOnBlanks(commandLine, lineLength - scriptLength - 1, argv);
        argv.emplace_back(scriptPath);
    } else {
        splitOnBlanks(commandLine, lineLength, argv);
    }
    return argv;
}

std::string findCGIProgram(const std::string& name)
{
    if (name.empty()) return "";
    if (name.find('/') != std::string::npos) return name;

    const std::string& path = startPath;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string candidate;
        if (end > start) {
            candidate.assign(path, start, end - start);
        } else {
            candidate.assign(".");
        }
        candidate.push_back('/');
        candidate.append(name);
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}
