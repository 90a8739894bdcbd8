#include "RoutingTables.h"

#include "PathResolver.h"

#include "WException.h"
#include "WFile.h"
#include "ZorvaneControl.h"

const char* const RoutingTables::PHP_BUILT_IN = "PHPBuildIn";

void RoutingTable::put(const WString& key, const WString& value)
{
    for (RoutingEntry& e : items) {
        if (e.key.equals(key)) {
            e.value = value;
            return;
        }
    }
    items.push_back(RoutingEntry {key, value});
}

const WString* RoutingTable::find(const char* key) const
{
    for (const RoutingEntry& e : items) {
        if (e.key.equals(key)) {
            return &e.value;
        }
    }
    return nullptr;
}

namespace {

// Trimmed line without comments; false for lines that carry no entry.
bool entryText(const WString& raw, WString& out)
{
    out = raw;
    out.trim();
    return out.length() > 0 && !out.startsWith('#');
}

void report(ZorvaneControl* control, const char* text)
{
    if (control != nullptr) {
        control->log(text, -1);
    }
}

// Reads every line of an optional file; a missing file reads as empty.
template <typename LineHandler>
void readLines(const char* path, ZorvaneControl* control, LineHandler handle)
{
    try {
        WFile file;
        file.open(path, false);
        WString line;
        unsigned lineNumber = 0;
        while (file.readln(line)) {
            lineNumber++;
            handle(line, lineNumber);
        }
        file.close();
    } catch (WFileNotFoundException&) {
        // an optional file
    } catch (WException& e) {
        report(control, WFormattedString("Cannot read %s, its entries are ignored: %s", path, e.toString().getBuf()));
    }
}

} // namespace

bool RoutingTables::addVirtualDirectoryLine(const char* line, WString& why)
{
    WString text;
    if (!entryText(line, text)) {
        return true;
    }
    WString alias;
    WString folder;
    text.split(";", alias, folder, true);
    folder.replace('\\', '/');
    if (folder.length() == 0) {
        why = "virtual directory without a folder";
        return false;
    }
    if (!alias.startsWith('/')) {
        alias = WString("/") + alias;
    }
    // An alias names a whole folder: '/img' must not take '/imgfoo'.
    if (alias.charAt(alias.length() - 1) != '/') {
        alias.append('/');
    }
    alias.toLowerCase();
    virtualDirectories.put(alias, PathResolver::absoluteFolder(folder));
    return true;
}

bool RoutingTables::addInterpreterLine(const char* line, WString& why)
{
    WString text;
    if (!entryText(line, text)) {
        return true;
    }
    WString keys;
    WString command;
    text.split(";", keys, command, true);
    bool any = false;
    const char* p = keys.getBuf();
    while (*p != '\0') {
        while (*p == ' ' || *p == '\t') {
            p++;
        }
        const char* start = p;
        while (*p != '\0' && *p != ' ' && *p != '\t') {
            p++;
        }
        if (p > start) {
            interpreters.put(WString(start, (unsigned long)(p - start)), command);
            any = true;
        }
    }
    if (!any) {
        why = "interpreter without a key";
        return false;
    }
    return true;
}

void RoutingTables::loadVirtualDirectories(const char* path, ZorvaneControl* control)
{
    readLines(path, control, [&](const WString& line, unsigned number) {
        WString why;
        if (!addVirtualDirectoryLine(line, why)) {
            report(
                control, WFormattedString("%s, line %u skipped (%s): %s", path, number, why.getBuf(), line.getBuf()));
        }
    });
}

void RoutingTables::loadInterpreters(const char* path, ZorvaneControl* control)
{
    readLines(path, control, [&](const WString& line, unsigned number) {
        WString why;
        if (!addInterpreterLine(line, why)) {
            report(
                control, WFormattedString("%s, line %u skipped (%s): %s", path, number, why.getBuf(), line.getBuf()));
        }
    });
}

void RoutingTables::loadMimeTypes(const char* path, ZorvaneControl* control)
{
    try {
        mimeTypes.load(path);
    } catch (WException& e) {
        mimeTypes = MimeTypeMap();
        report(control,
            WFormattedString("Cannot load MIME types, every file is sent as text/plain: %s", e.toString().getBuf()));
    }
}

void RoutingTables::load(ZorvaneControl* control, const char* folder)
{
    virtualDirectories.clear();
    interpreters.clear();
    loadVirtualDirectories(WString(folder) + "/vdir.txt", control);
    loadMimeTypes(WString(folder) + "/mime.txt", control);
    loadInterpreters(WString(folder) + "/cgi.txt", control);
}
