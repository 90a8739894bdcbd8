#pragma once

#include "WString.h"

class HTTPRequest;

// The 32 CGI variables of one request as an environment block: NAME=value
// entries, each ending in a NUL, and one more NUL after the last.
class CGIEnvironment {
public:
    explicit CGIEnvironment(const HTTPRequest& request);
    ~CGIEnvironment();

    const char* getBlock() const { return block.getBuf(); }
    unsigned long getLength() const { return block.length(); }

    // The fixed administrator address passed as SERVER_ADMIN.
    static const char* const SERVER_ADMIN;
    // Number of variables in every block.
    static const int VARIABLE_COUNT = 32;

private:
    void add(const char* name, const char* value);

    WString block;
};
