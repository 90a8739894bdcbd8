#include "RequestRouter.h"

#include <chrono>
#include <cstring>
#include <strings.h>

#include "ByteRange.h"
#include "CGIExecutor.h"
#include "FrontEnd.h"
#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "PHPRuntime.h"
#include "PathResolver.h"
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

void logLine(const HTTPRequest& request, int level, const WString& text)
{
    if (request.control != nullptr) {
        request.control->log(text, level);
    }
}

} // namespace

RequestRouter::RequestRouter(const RoutingTables& tables) : tables(tables) {}

const RoutingEntry* RequestRouter::findInterpreterKey(const char* text, long& position) const
{
    for (const RoutingEntry& e : tables.interpreters.entries()) {
        long at = indexOfIgnoreCase(text, e.key);
        if (at >= 0) {
            position = at;
            return &e;
        }
    }
    position = -1;
    return nullptr;
}

bool RequestRouter::route(HTTPRequest& request) const
{
    // 1. Interpreter key and the path info behind it.
    long at = -1;
    const RoutingEntry* key = findInterpreterKey(request.scriptName, at);
    if (key != nullptr) {
        unsigned long end = (unsigned long)at + key->key.length();
        request.scriptName.substring(end, request.pathInfo);
        if (request.pathInfo.length() == 0 || request.pathInfo.startsWith('/')) {
            request.scriptName.truncate(end);
            request.interpreterKey = key->key;
        } else {
            request.pathInfo.clear();
        }
    }

    // 2. Virtual directory: its remainder comes from the lower-cased path.
    WString lowerPath(request.scriptName);
    lowerPath.toLowerCase();
    WString rest(request.scriptName);
    for (const RoutingEntry& vdir : tables.virtualDirectories.entries()) {
        if (matchVirtualDirectory(lowerPath, vdir.key)) {
            request.documentRoot = vdir.value;
            lowerPath.substring(vdir.key.length() - 1, rest);
            rest.trim();
            break;
        }
    }

    // 3. and 4. The file name and the file-system path.
    WSystem::extractPath(request.scriptName, request.fileName, true);
    request.scriptFilename = PathResolver::resolve(request.documentRoot, rest);

    // 5. A folder: redirect to its '/' form, else look for an index file.
    if (PathResolver::isDirectory(request.scriptFilename)) {
        if (!request.scriptName.length() || request.scriptName.charAt(request.scriptName.length() - 1) != '/') {
            request.scriptName.append('/');
            request.response->redirect(request.scriptName);
            return false;
        }
        for (const char* index : INDEX_FILES) {
            WString candidate = PathResolver::resolve(request.documentRoot, rest + index);
            if (PathResolver::isReadableFile(candidate)) {
                request.scriptName.append(index);
                request.fileName = index;
                long ignored;
                const RoutingEntry* indexKey = findInterpreterKey(request.scriptName, ignored);
                request.interpreterKey = indexKey != nullptr ? indexKey->key : WString();
                request.scriptFilename = candidate;
                break;
            }
        }
    }

    // 6. Where the script's path info points to.
    if (request.interpreterKey.length() > 0) {
        WString folder;
        WSystem::extractPath(request.scriptFilename, folder, false);
        request.pathTranslated = folder + request.pathInfo;
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
    auto started = std::chrono::steady_clock::now();
    if (command.equals(RoutingTables::PHP_BUILT_IN)) {
        logLine(request, 2, WFormattedString("Execute PHP script: %s", request.scriptFilename.getBuf()));
        executePHPScript(&request);
    } else {
        logLine(request, 2, WFormattedString("Execute CGI script: %s", request.scriptFilename.getBuf()));
        CGIExecutor().execute(command + " " + request.scriptFilename, request);
    }
    if (request.control != nullptr) {
        request.control->onRequestFinished();
    }
    if (isConsoleFrontEnd()) {
        std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
        logLine(request, 2, WFormattedString("Script execution time = %.6f sec", seconds.count()));
    }
}

void RequestRouter::dispatch(HTTPRequest& request) const
{
    HTTPResponse& response = *request.response;
    switch (request.methodIndex) {
    case HTTPRequest::METHOD_GET:
    case HTTPRequest::METHOD_HEAD:
    case HTTPRequest::METHOD_POST: {
        const WString* command =
            request.interpreterKey.length() > 0 ? tables.interpreters.find(request.interpreterKey) : nullptr;
        if (command != nullptr) {
            runScript(request, *command);
        } else if (PathResolver::isReadableFile(request.scriptFilename)) {
            uint64_t first = 0;
            uint64_t last = 0;
            const char* range = request.getHeader("RANGE");
            if (*range != '\0') {
                parseRangeHeader(range, first, last);
            }
            const char* condition = request.getHeader("IF-MODIFIED-SINCE");
            if (*condition == '\0') {
                condition = request.getHeader("IF-RANGE");
            }
            response.sendFile(request.scriptFilename, request.mimeType,
                              request.methodIndex == HTTPRequest::METHOD_HEAD, condition, first, last,
                              *range != '\0');
        } else {
            logLine(request, 2, WFormattedString("File not found: %s, MimeType=%s",
                                                 request.scriptFilename.getBuf(), request.mimeType.getBuf()));
            response.sendError(lookupHTTPStatus(404), request.scriptName, false);
        }
        break;
    }
    default:
        response.sendError(lookupHTTPStatus(501), WFormattedString("HTTP-Method: %s", request.method.getBuf()),
                           false);
        break;
    }
}
