#pragma once

#include "RoutingTables.h"

class HTTPRequest;

// True when alias names a prefix of path (both as given: callers pass the
// lower-cased path), or when path ends just where the alias has a '/', so
// that '/img' matches the alias '/img/'.
bool matchVirtualDirectory(const char* path, const char* alias);

// The decision-making half of a worker: maps a parsed request onto a file
// (interpreter key and path info, virtual directory, index file, MIME type)
// and answers it: a script, a static file, a redirect or an error page.
class RequestRouter {
public:
    // The index files of a folder, in the order they are tried.
    static const char* const INDEX_FILES[3];

    explicit RequestRouter(const RoutingTables& tables);

    // Fills the routing fields of request. A folder asked for without its
    // trailing '/' is answered with a redirect here; the result is then false
    // and the request is done.
    bool route(HTTPRequest& request) const;

    // Answers a routed request through request.response.
    void dispatch(HTTPRequest& request) const;

    // The first interpreter key, in table order, that occurs in text (ASCII
    // case does not matter, so '/X.PHP' finds '.php'); position receives the
    // index of its first occurrence. Null when no key occurs.
    const RoutingEntry* findInterpreterKey(const char* text, long& position) const;

private:
    void runScript(HTTPRequest& request, const WString& command) const;

    const RoutingTables& tables;
};
