#pragma once

#include "WString.h"

class HTTPRequest;

// The CGI variables of one request (ScriptVariables) as an environment
// block: NAME=value entries, each ending in a NUL, and one more NUL after the
// last.
class CGIEnvironment {
public:
    explicit CGIEnvironment(const HTTPRequest& request);
    ~CGIEnvironment();

    const char* getBlock() const { return block.getBuf(); }

private:
    WString block;
};
