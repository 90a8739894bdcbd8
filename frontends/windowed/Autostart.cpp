#include "Autostart.h"
#include "internal/UserFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string configHome()
{
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

// One argument of an Exec line: quoted, with the characters the entry format
// reserves escaped, then escaped again as a string value.
std::string quoteExec(const char* text)
{
    std::string quoted = "\"";
    for (const char* p = text; *p != '\0'; p++) {
        if (*p == '"' || *p == '`' || *p == '$' || *p == '\\') quoted += '\\';
        quoted += *p;
    }
    quoted += '"';
    std::string out;
    for (char c : quoted) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out;
}

// A string value: backslashes escaped, line breaks as \n.
std::string escapeValue(const char* text)
{
    std::string out;
    for (const char* p = text; *p != '\0'; p++) {
        if (*p == '\\')
            out += "\\\\";
        else if (*p == '\n')
            out += "\\n";
        else if (*p == '\r')
            out += "\\r";
        else
            out += *p;
    }
    return out;
}

} // namespace

WString Autostart::entryPath()
{
    std::string path = configHome() + "/autostart/zorvane-gui.desktop";
    return WString(path.c_str());
}

bool Autostart::exists()
{
    FILE* file = fopen(entryPath(), "re");
    if (file == nullptr) return false;
    bool hidden = false;
    char line[1024];
    while (fgets(line, sizeof line, file) != nullptr) {
        if (strncmp(line, "Hidden=true", 11) == 0) hidden = true;
    }
    fclose(file);
    return !hidden;
}

bool Autostart::set(const char* name, const char* program, const char* argument, const char* icon)
{
    std::string directory = configHome() + "/autostart";
    if (!userfiles::makeDirectories(directory, 0700)) return false;
    std::string text = "[Desktop Entry]\nType=Application\nName=";
    text += escapeValue(name != nullptr ? name : "");
    text += "\nExec=" + quoteExec(program != nullptr ? program : "");
    if (argument != nullptr && *argument != '\0') text += std::string(" ") + argument;
    if (icon != nullptr && *icon != '\0') text += std::string("\nIcon=") + escapeValue(icon);
    text += "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";

    std::string target = entryPath().getBuf();
    std::string temporary = target + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = userfiles::writeAll(fd, text.data(), text.size()) && fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = fchmodat(AT_FDCWD, temporary.c_str(), 0644, 0) == 0 && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool Autostart::remove()
{
    return unlink(entryPath()) == 0 || errno == ENOENT;
}
