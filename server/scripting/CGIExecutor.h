#pragma once

#include "CGIEnvironment.h"

class HTTPRequest;

// Runs one CGI program for a request (RFC 3875): the request body goes to the
// program's standard input; its header lines are checked and its "Status:"
// line becomes the status line, its standard output follows the server's
// header lines, and its standard error goes to the error log. Output that is
// not a header block, or none at all, answers 502.
class CGIExecutor {
public:
    CGIExecutor();
    ~CGIExecutor();

    // `commandLine` is the interpreter command of cfg/cgi.txt, one blank and
    // request.scriptFilename. The command part is split on blanks into the
    // program and its arguments and the script path is passed as one more
    // argument; no shell is involved. Throws WException (id -1) when the
    // program cannot be started; client failures end the copy silently. A
    // client that goes away, like the time limit, ends the program and
    // everything it started.
    void execute(const char* commandLine, HTTPRequest& request);

    // A program still running this many seconds after its start is killed
    // (300 unless changed, e.g. by tests).
    static void setTimeLimit(int seconds);
    static int getTimeLimit();
    // The request body must reach the program within this many seconds of
    // its start (60 unless changed; the environment variable
    // ZORVANE_BODY_TIMEOUT_MS sets it in milliseconds at start); the program
    // then sees the end of its input.
    static void setBodyTimeLimit(int seconds);
    static int getBodyTimeLimit();
};
