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

// Runs one CGI program for a request: the request body goes to the program's
// standard input, its standard output and then its standard error go to the
// client behind the server's status line and header lines.
class CGIExecutor {
public:
    CGIExecutor();
    ~CGIExecutor();

    // `commandLine` is the interpreter command of cfg/cgi.txt, one blank and
    // request.scriptFilename. The command part is split on blanks into the
    // program and its arguments and the script path is passed as one more
    // argument; no shell is involved. Throws WException (id -1) when the
    // program cannot be started; client failures end the copy silently.
    void execute(const char* commandLine, HTTPRequest& request);

    // A program still running this many seconds after its start is killed
    // (300 unless changed, e.g. by tests).
    static void setTimeLimit(int seconds);
    static int getTimeLimit();
};
