#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class HTTPRequest;
class OutputQueue;
class RequestBody;

// A CGI program started for one request (RFC 3875) and carried by the event
// loop that owns the request's connection, so that a program that sleeps
// holds no worker. The request body goes to the program's standard input, its
// standard output to the answer's channel once its header lines are checked
// (its "Status:" line becomes the status line), its standard error to the
// error log. Output that is not a header block, or none at all, answers 502;
// a program still running at the time limit is killed (504 when it had said
// nothing). No step waits: the loop watches the descriptors and calls them.
class CGIProcess {
public:
    // Called once, on the loop, when the answer is complete.
    using Ended = std::function<void()>;

    // Starts `commandLine` (the interpreter command of cfg/cgi.txt, a blank
    // and the script path) on a worker. request and body must outlive the
    // process; the answer goes into output. Throws WException (id -1) when
    // the program cannot be started.
    CGIProcess(const char* commandLine, HTTPRequest& request, const RequestBody& body, OutputQueue& output,
        Ended ended);
    // Ends the program and everything it started, if it still runs.
    ~CGIProcess();

    enum class Pipe { Input, Output, Errors, Exit };
    static constexpr int PIPE_COUNT = 4;
    // The descriptor to watch for pipe now (for writing: Input; for reading:
    // the others), or -1.
    int descriptor(Pipe pipe) const;
    // Told right before a descriptor that descriptor() named is closed, so
    // that the watcher lets go of it first (a registration can outlive the
    // close while a process being started elsewhere holds a copy).
    using Forget = std::function<void(int fd)>;
    void setForget(Forget forget);
    // The pipe's descriptor is ready.
    void step(Pipe pipe);
    // Looks at the time limits.
    void tick();
    // The monotonic second (see cgiNow) when tick() is due next.
    double nextCheck() const;
    // After the loop sent some of the answer: true when output paused for
    // want of room is taken again (its descriptor is to be watched again).
    bool resume();
    // The client has gone: the program is ended.
    void abandon();
    // The answer is complete (the channel was finished).
    bool isDone() const { return done; }

    // A program still running this many seconds after its start is killed
    // (300 unless changed, e.g. by tests).
    static void setTimeLimit(int seconds);
    static int getTimeLimit();

    CGIProcess(const CGIProcess&) = delete;
    CGIProcess& operator=(const CGIProcess&) = delete;

private:
    struct Run;
    std::unique_ptr<Run> run;
    bool done = false;
};
