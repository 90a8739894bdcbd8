#pragma once

class HTTPRequest;
class ZorvaneControl;

// The in-process PHP runtime. It is started once per process by the server
// object's constructor and shut down by its destructor, after the workers
// have ended. Scripts run on the worker threads, each thread with its own
// runtime context (thread-safe build) or one at a time (non-thread-safe build).

// Starts the runtime. `control`, when given, receives the level 1 line naming
// the embedded PHP version, or one level -1 line when the runtime cannot
// start; requests for PHP are then answered with 500. Calls nest: only the
// first starts the runtime, and only the matching last shutdownPHP stops it.
void startupPHP(ZorvaneControl* control = nullptr);

// Logs the start-up lines (the version line, or the failure) through
// `control` if startupPHP had no control to log them to; once per start-up.
// The first PHP request does this itself with its request's control.
void announcePHP(ZorvaneControl* control);

// Shuts the runtime down once no server object needs it any more. No worker
// may be running a script at that time.
void shutdownPHP();

// Runs request->scriptFilename for the request on the calling thread; the
// output, headers and status reach the client through request->response.
// Throws nothing: bail-outs, fatal errors and crashes of the runtime are
// contained here (a crash is logged at level -1 and answered with 500).
void executePHPScript(HTTPRequest* request);

// Whether the runtime was started and is usable.
bool isPHPAvailable();

// Whether scripts of several workers run at the same time (the thread-safe
// runtime). False for the non-thread-safe runtime, where one lock serialises
// all scripts.
bool isPHPThreadSafe();

// PHP's post_max_size in bytes; 0 when it sets no limit or PHP is not built in.
unsigned long long getPHPPostMaxSize();

// The embedded runtime's version ("8.2.32"), or "" when PHP is not built in.
const char* getPHPVersion();
