#include "RequestRouter.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <functional>
#include <iterator>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "CGIProcess.h"
#include "FrontEnd.h"
#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "PHPRuntime.h"
#include "PathResolver.h"
#include "ScriptJob.h"
#include "UrlCodec.h"
#include "WSocketUtils.h"
#include "WSystem.h"
#include "ZorvaneControl.h"

const char* const RequestRouter::INDEX_FILES[3] = {"index.htm", "index.html", "index.php"};

bool matchVirtualDirectory(const char* path, const char* alias)
{
    while (*path != '\0' && *path == *alias) {
        path++;
        alias++;
    }
    return *alias == '\0' || (*path == '\0' && *alias == '/');
}

namespace {

// Index of the first occurrence of pattern in text without regard to ASCII case, or -1.
long indexOfIgnoreCase(const char* text, const char* pattern)
{
    size_t n = std::strlen(pattern);
    if (n == 0) {
        return -1;
    }
    for (const char* p = text; *p != '\0'; p++) {
        if (::strncasecmp(p, pattern, n) == 0) {
            return (long)(p - text);
        }
    }
    return -1;
}

// The last component of a file-system path.
const char* fileNameOf(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

bool isShown(const HTTPRequest& request, int level)
{
    return request.control != nullptr && request.control->isLogShown(level);
}

void logLine(const HTTPRequest& request, int level, const WString& text)
{
    if (request.control != nullptr) {
        request.control->log(text, level);
    }
}

} // namespace

RequestRouter::RequestRouter(const RoutingTables& routingTables, ScriptJob* scriptJob)
    : tables(routingTables), job(scriptJob)
{
}

const RoutingEntry* RequestRouter::findScriptKey(
    const char* text, long& position, const std::function<bool(unsigned long)>& accept) const
{
    for (const RoutingEntry& e : tables.interpreters.entries()) {
        unsigned long n = e.key.length();
        for (long from = 0;;) {
            long at = indexOfIgnoreCase(text + from, e.key);
            if (at < 0) {
                break;
            }
            unsigned long end = (unsigned long)(from + at) + n;
            if ((text[end] == '/' || text[end] == '\0') && (!accept || accept(end))) {
                position = from + at;
                return &e;
            }
            from += at + 1;
        }
    }
    position = -1;
    return nullptr;
}

const RoutingEntry* RequestRouter::findKeyOfFileName(const char* name) const
{
    unsigned long length = std::strlen(name);
    for (const RoutingEntry& e : tables.interpreters.entries()) {
        unsigned long n = e.key.length();
        if (n > 0 && n <= length && ::strncasecmp(name + length - n, e.key, n) == 0) {
            return &e;
        }
    }
    return nullptr;
}

bool RequestRouter::nameCarriesKey(const char* name) const
{
    // conf.php.bak, conf.php~, conf.php-old and conf.php5 are copies or
    // variants of a script; page.shtml is not one of ".sh".
    for (const RoutingEntry& e : tables.interpreters.entries()) {
        unsigned long n = e.key.length();
        for (const char* p = name; n > 0 && *p != '\0'; p++) {
            if (::strncasecmp(p, e.key, n) == 0 && !std::isalpha((unsigned char)p[n])) {
                return true;
            }
        }
    }
    return false;
}

WString RequestRouter::locate(const WString& scriptName, WString& documentRoot, WString& rest) const
{
    // A virtual directory's remainder comes from the lower-cased path.
    WString lowerPath(scriptName);
    lowerPath.toLowerCase();
    rest = scriptName;
    for (const RoutingEntry& vdir : tables.virtualDirectories.entries()) {
        if (matchVirtualDirectory(lowerPath, vdir.key)) {
            documentRoot = vdir.value;
            lowerPath.substring(vdir.key.length() - 1, rest);
            rest.trim();
            break;
        }
    }
    PathResolver::FileType type = PathResolver::FileType::Unknown;
    WString path = PathResolver::resolve(documentRoot, rest, &type);
    remember(path, type);
    return path;
}

void RequestRouter::remember(const WString& path, PathResolver::FileType type) const
{
    if (type == PathResolver::FileType::Unknown) return;
    knownPath = path;
    knownType = type;
}

PathResolver::FileType RequestRouter::typeOf(const WString& path) const
{
    if (knownType == PathResolver::FileType::Unknown || !knownPath.equals(path))
        remember(path, PathResolver::typeOf(path));
    return knownType;
}

WString folderRedirectTarget(const char* scriptName, const char* queryString)
{
    // Exactly one leading '/': "//host/" would send the browser elsewhere.
    while (*scriptName == '/' || *scriptName == '\\') {
        scriptName++;
    }
    // The path is decoded: what it holds goes back into escapes.
    WString encoded;
    encodeUrlPath(scriptName, encoded);
    WString target("/");
    target.append(encoded);
    if (target.charAt(target.length() - 1) != '/') {
        target.append('/');
    }
    if (*queryString != '\0') {
        encodeUrlQuery(queryString, encoded);
        target.append('?');
        target.append(encoded);
    }
    return target;
}

bool RequestRouter::route(HTTPRequest& request) const
{
    // 1. Interpreter key and the path info behind it. A key counts only where
    // it ends a path segment, and not where that segment is a folder: in
    // '/site.php-old/conf.php' the script is conf.php.
    long at = -1;
    // The candidate's file-system path is worked out once: the script name is
    // cut to that very candidate when it is taken.
    WString root;
    WString rest;
    WString path;
    const RoutingEntry* key = findScriptKey(request.scriptName, at, [&](unsigned long end) {
        WString prefix;
        request.scriptName.substring(0, end, prefix);
        root = request.documentRoot;
        path = locate(prefix, root, rest);
        return typeOf(path) != PathResolver::FileType::Directory;
    });
    if (key != nullptr) {
        unsigned long end = (unsigned long)at + key->key.length();
        request.scriptName.substring(end, request.pathInfo);
        request.scriptName.truncate(end);
        request.interpreterKey = key->key;
        request.documentRoot = root;
        request.scriptFilename = path;
    } else {
        // 2. to 4. Virtual directory and the file-system path.
        request.scriptFilename = locate(request.scriptName, request.documentRoot, rest);
    }
    WSystem::extractPath(request.scriptName, request.fileName, true);

    // 5. A folder: redirect to its '/' form, else look for an index file.
    if (typeOf(request.scriptFilename) == PathResolver::FileType::Directory) {
        if (!request.scriptName.length() || request.scriptName.charAt(request.scriptName.length() - 1) != '/') {
            request.response->redirect(folderRedirectTarget(request.scriptName, request.queryString));
            return false;
        }
        WString candidate;
        long found = PathResolver::findReadableFile(request.scriptFilename, INDEX_FILES, std::size(INDEX_FILES), candidate);
        if (found >= 0) {
            const char* index = INDEX_FILES[found];
            // A regular file: asking again below would only repeat it.
            remember(candidate, PathResolver::FileType::Regular);
            request.scriptName.append(index);
            request.fileName = index;
            // Only the index file's own name selects an interpreter.
            const RoutingEntry* indexKey = findKeyOfFileName(index);
            request.interpreterKey = indexKey != nullptr ? indexKey->key : WString();
            request.scriptFilename = candidate;
        }
    }

    // 6. Where the script's path info points to: the same path below the
    // document folder (RFC 3875 4.1.6); nothing without path info.
    if (request.interpreterKey.length() > 0 && request.pathInfo.length() > 0) {
        request.pathTranslated = request.documentRoot + request.pathInfo;
    }

    // 7. MIME type by the lower-case extension.
    long dot = request.fileName.lastIndexOf('.');
    if (dot >= 0) {
        request.fileName.substring((unsigned long)dot + 1, request.fileExtension);
    } else {
        request.fileExtension.clear();
    }
    request.fileExtension.toLowerCase();
    request.mimeType = tables.mimeTypes.getMimeType(request.fileExtension);
    return true;
}

void RequestRouter::runScript(HTTPRequest& request, const WString& command) const
{
    // Per-request lines: no clock reading and no formatting nobody sees.
    bool timed = isConsoleFrontEnd() && isShown(request, 2);
    request.lookUpServerHost();
    auto started = timed ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point {};
    ZorvaneControl* control = request.control;
    auto finished = [control, timed, started] {
        if (control == nullptr) return;
        control->onRequestFinished();
        if (timed) {
            std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
            control->log(WFormattedString("Script execution time = %.6f sec", seconds.count()), 2);
        }
    };
    if (command.equals(RoutingTables::PHP_BUILT_IN)) {
        if (isShown(request, 2))
            logLine(request, 2, WFormattedString("Execute PHP script: %s", request.scriptFilename.getBuf()));
        executePHPScript(&request);
        finished();
        return;
    }
    if (isShown(request, 2))
        logLine(request, 2, WFormattedString("Execute CGI script: %s", request.scriptFilename.getBuf()));
    if (job == nullptr) throw WException("Cannot run a CGI program here.", -1);
    // Started here, carried by the connection's loop: the worker is free at once.
    job->program = std::make_unique<CGIProcess>(
        (command + " " + request.scriptFilename).getBuf(), request, job->body, job->output, finished);
}

void RequestRouter::sendNotFound(HTTPRequest& request) const
{
    if (isShown(request, 2))
        logLine(request, 2,
            WFormattedString(
                "File not found: %s, MimeType=%s", request.scriptFilename.getBuf(), request.mimeType.getBuf()));
    request.response->sendError(lookupHTTPStatus(404), request.scriptName, false);
}

const WString* RequestRouter::scriptCommand(const HTTPRequest& request) const
{
    // Every method reaches a script, which decides what it means.
    const WString* command
        = request.interpreterKey.length() > 0 ? tables.interpreters.find(request.interpreterKey) : nullptr;
    // A script that is not there starts no interpreter: it is a missing page.
    if (command != nullptr && typeOf(request.scriptFilename) != PathResolver::FileType::Regular) {
        return nullptr;
    }
    return command;
}

void RequestRouter::dispatch(HTTPRequest& request) const
{
    HTTPResponse& response = *request.response;
    if (const WString* command = scriptCommand(request)) {
        runScript(request, *command);
        return;
    }
    switch (request.methodIndex) {
    case HTTPRequest::METHOD_GET:
    case HTTPRequest::METHOD_HEAD:
    case HTTPRequest::METHOD_POST: {
        if (request.interpreterKey.length() > 0 && tables.interpreters.find(request.interpreterKey) != nullptr) {
            // A missing script is a missing page, not a runtime failure that
            // would show the document folder.
            sendNotFound(request);
            break;
        }
        FileRequest asked;
        asked.headOnly = request.methodIndex == HTTPRequest::METHOD_HEAD;
        asked.ifModifiedSince = request.getHeader("IF-MODIFIED-SINCE");
        asked.ifRange = request.getHeader("IF-RANGE");
        asked.range = request.getHeader("RANGE");
        const bool scriptSource = nameCarriesKey(fileNameOf(request.scriptFilename));
        // A small file this loop sent a moment ago, unchanged since, goes
        // from memory.
        if (!scriptSource && response.sendCachedFile(request.scriptFilename, request.mimeType, asked)) {
            break;
        }
        // The file is opened once: the test that it can be read is the open
        // that sends it.
        int file = PathResolver::openReadableFile(request.scriptFilename);
        int err = file < 0 ? errno : 0;
        if (file < 0 && WSocketUtils::isResourceExhaustion(err)) {
            // The file may well be there: short of descriptors or memory the
            // client is told to come again, not that it is missing.
            logLine(request, -1,
                WFormattedString("Cannot send file: %s, %s", request.scriptFilename.getBuf(), std::strerror(err)));
            response.sendError(lookupHTTPStatus(503), request.scriptName, false);
        } else if (file < 0) {
            sendNotFound(request);
        } else if (scriptSource) {
            ::close(file);
            // A script's source, or a copy such as conf.php.bak, is never sent as text.
            logLine(request, 2, WFormattedString("Script source not sent: %s", request.scriptFilename.getBuf()));
            response.sendError(lookupHTTPStatus(403), request.scriptName, false);
        } else {
            response.sendFile(request.scriptFilename, request.mimeType, asked, file);
        }
        break;
    }
    case HTTPRequest::METHOD_OTHER:
        // What a method outside the table meant before scripts got them all.
        throw HTTPHeaderException(WFormattedString("Unknown HTTP method '%s'", request.method.getBuf()));
    default:
        response.sendError(lookupHTTPStatus(501), WFormattedString("HTTP-Method: %s", request.method.getBuf()), false);
        break;
    }
}
