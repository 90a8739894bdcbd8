#pragma once

#include "PathResolver.h"
#include "RoutingTables.h"

#include <functional>

class HTTPRequest;
struct ScriptJob;

// True when alias names a prefix of path (both as given: callers pass the
// lower-cased path), or when path ends just where the alias has a '/', so
// that '/img' matches the alias '/img/'.
bool matchVirtualDirectory(const char* path, const char* alias);

// Where a folder asked for without its trailing '/' is redirected: the
// (decoded) path percent-encoded, with exactly one leading '/' (never
// "//host/...") and a trailing '/', then '?' and the query when there is one.
WString folderRedirectTarget(const char* scriptName, const char* queryString);

// The decision-making half of a worker: maps a parsed request onto a file
// (interpreter key and path info, virtual directory, index file, MIME type)
// and answers it: a script, a static file, a redirect or an error page.
class RequestRouter {
public:
    // The index files of a folder, in the order they are tried.
    static const char* const INDEX_FILES[3];

    // job: the worker's job, which takes a CGI program it starts (null on the
    // loop, which runs no script).
    explicit RequestRouter(const RoutingTables& routingTables, ScriptJob* job = nullptr);

    // Fills the routing fields of request. A folder asked for without its
    // trailing '/' is answered with a redirect here; the result is then false
    // and the request is done.
    bool route(HTTPRequest& request) const;

    // Answers a routed request through request.response.
    void dispatch(HTTPRequest& request) const;

    // The interpreter command a routed request runs (its script exists), or
    // null when the answer is a file, a redirect or an error page.
    const WString* scriptCommand(const HTTPRequest& request) const;

    // The first key, in table order, with an occurrence that ends a path
    // segment of text (followed by '/' or the end) and that accept takes
    // (given the index just past the key); position receives where it starts.
    const RoutingEntry* findScriptKey(
        const char* text, long& position, const std::function<bool(unsigned long)>& accept = {}) const;

    // The first key, in table order, that ends the file name name.
    const RoutingEntry* findKeyOfFileName(const char* name) const;

    // True when an interpreter key occurs in the file name name followed by
    // anything but a letter: such a file is a script, a copy or a variant of
    // one, and is never sent as text.
    bool nameCarriesKey(const char* name) const;

private:
    // The file-system path of a URL path: its virtual directory (which
    // replaces documentRoot) and the remainder below it (into rest).
    WString locate(const WString& scriptName, WString& documentRoot, WString& rest) const;
    // What path names. Routing asks about the same path several times; one
    // status call per path and request serves them all.
    PathResolver::FileType typeOf(const WString& path) const;
    // Keeps what a status call on the way just said of path, for typeOf.
    void remember(const WString& path, PathResolver::FileType type) const;
    void runScript(HTTPRequest& request, const WString& command) const;
    void sendNotFound(HTTPRequest& request) const;

    const RoutingTables& tables;
    ScriptJob* job;
    mutable WString knownPath;
    mutable PathResolver::FileType knownType = PathResolver::FileType::Unknown;
};
