#include "WInitFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "WException.h"
#include "WFile.h"

void WInitFile::open(const char* path, const char* separator)
{
    WFile file;
    file.open(path, false);
    read(file, table, separator);
    file.close();
}

void WInitFile::read(WFile& file, Table& into, const char* separator)
{
    WString line;
    WString key;
    WString value;
    while (file.readln(line)) {
        line.trim();
        if (line.startsWith('#')) continue;
        long at = separator != nullptr && separator[0] != '\0' ? line.indexOf(separator) : -1;
        if (at < 0) continue;
        key.assign(line.getBuf(), (unsigned long)at);
        value = line.getBuf() + at + strlen(separator);
        key.trim();
        value.trim();
        into.put(key.getBuf(), value);
    }
}

// Where the lines really go: the target of a symbolic link, so that saving
// replaces the file and keeps the link.
static WString targetPath(const char* path)
{
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = realpath(path, nullptr);
        if (real != nullptr) {
            WString resolved(real);
            free(real);
            return resolved;
        }
    }
    return WString(path);
}

void WInitFile::save(const char* path, const char* separator)
{
    WString target = targetPath(path);
    WFile file;
    file.createTemporary(target);
    WString temporary = file.getFilename();
    try {
        table.reset();
        while (table.hasMoreElements()) {
            file.write(table.currentKey());
            file.write(separator != nullptr ? separator : "");
            file.writeln(table.currentValue());
        }
        file.flush();
        file.close();
    } catch (...) {
        file.close();
        unlink(temporary);
        throw;
    }
    // The temporary was made as create() makes a file (0666 less the umask);
    // a file being replaced keeps its own mode.
    struct stat st;
    if (stat(target, &st) == 0) chmod(temporary, st.st_mode & 07777);
    if (rename(temporary, target) != 0) {
        WFileException error(WFormattedString("Cannot create file: %s", path), -1);
        unlink(temporary);
        throw error;
    }
}

void WInitFile::close()
{
    table.removeAll();
}

const char* WInitFile::getValue(const char* key) const
{
    const WString* value = table.find(key);
    return value != nullptr ? value->getBuf() : "";
}

int WInitFile::getIntValue(const char* key) const
{
    return atoi(getValue(key));
}

bool WInitFile::getFlagValue(const char* key) const
{
    WString value(getValue(key));
    value.toLowerCase();
    return value.equals("true");
}

void WInitFile::putValue(const char* key, const char* value)
{
    table.put(key, WString(value));
}

void WInitFile::putValue(const char* key, int value)
{
    putValue(key, WFormattedString("%i", value).getBuf());
}

void WInitFile::putValue(const char* key, unsigned long value)
{
    putValue(key, WFormattedString("%lu", value).getBuf());
}

void WInitFile::putValue(const char* key, bool value)
{
    putValue(key, value ? "true" : "false");
}

void WInitFile::putValue(const char* key, double value, int decimals)
{
    // Fixed point with the given number of decimals, as "%.<decimals>f".
    if (decimals < 0) decimals = 0;
    if (decimals > 100) decimals = 100;
    char text[512];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    putValue(key, text);
}
