#include "CGIExecutor.h"

#include "CGIProcess.h"
#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "WException.h"
#include "ZorvaneControl.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

namespace {

const unsigned long BLOCK = 4096;
// Standard error is held back until standard output has ended; beyond this
// much it is read and dropped, so a flood cannot exhaust memory.
const size_t STDERR_LIMIT = 1024 * 1024;

std::atomic<int> timeLimitSeconds{300};

// Writes to a pipe whose reader has gone must fail with EPIPE, not end the
// server; the children get default signal handling back when they start.
void ignoreSigpipe()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current = {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            signal(SIGPIPE, SIG_IGN);
        }
    });
}

void throwCannotCreateProcess(const char* commandLine, int error)
{
    errno = error;
    WFormattedString message("Cannot create process: %s", commandLine);
    throw WException(message, -1);
}

// Moves the request body to the child's standard input and the child's
// output to the client until both output streams end, the client is gone or
// the time limit runs out.
class CGIPump {
public:
    CGIPump(CGIPipes& pipes, HTTPResponse* response, long contentLength, double deadline)
        : pipes(pipes), response(response), remaining(contentLength > 0 ? contentLength : 0), deadline(deadline)
    {
    }

    void run();

    bool clientGone = false;
    bool timedOut = false;
    std::string errors;

private:
    void fetchBody();
    void feedStdin();
    void forwardStdout();
    void collectStderr();
    void closeStdin();

    CGIPipes& pipes;
    HTTPResponse* response;
    long remaining;
    double deadline;
    char body[BLOCK];
    size_t bodyLength = 0;
    size_t bodyOffset = 0;
};

void CGIPump::closeStdin()
{
    if (pipes.stdinWrite >= 0 && !CGIPipes::closeOne(pipes.stdinWrite))
        throw WException("Cannot close StdInWr handle.", -1);
    remaining = 0;
    bodyLength = bodyOffset = 0;
}

// The next piece of the body, once the previous one is in the pipe. A client
// that closes or times out ends the body early.
void CGIPump::fetchBody()
{
    if (pipes.stdinWrite < 0 || bodyOffset < bodyLength) return;
    if (remaining <= 0) {
        closeStdin();
        return;
    }
    int n = 0;
    try {
        n = response->read(body, remaining < static_cast<long>(BLOCK) ? static_cast<unsigned long>(remaining) : BLOCK);
    } catch (const WException&) {
        n = 0;
    }
    if (n <= 0) {
        closeStdin();
        return;
    }
    bodyLength = static_cast<size_t>(n);
    bodyOffset = 0;
    remaining -= n;
}

void CGIPump::feedStdin()
{
    ssize_t n = ::write(pipes.stdinWrite, body + bodyOffset, bodyLength - bodyOffset);
    if (n > 0) {
        bodyOffset += static_cast<size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        // The child closed its input (EPIPE): it gets no more of the body.
        closeStdin();
    }
}

void CGIPump::forwardStdout()
{
    char buffer[BLOCK];
    ssize_t n = ::read(pipes.stdoutRead, buffer, sizeof(buffer));
    if (n > 0) {
        try {
            response->write(buffer, static_cast<unsigned long>(n));
        } catch (const WException&) {
            clientGone = true;
        }
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        CGIPipes::closeOne(pipes.stdoutRead);
    }
}

void CGIPump::collectStderr()
{
    char buffer[BLOCK];
    ssize_t n = ::read(pipes.stderrRead, buffer, sizeof(buffer));
    if (n > 0) {
        size_t keep = errors.size() < STDERR_LIMIT ? STDERR_LIMIT - errors.size() : 0;
        errors.append(buffer, static_cast<size_t>(n) < keep ? static_cast<size_t>(n) : keep);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        CGIPipes::closeOne(pipes.stderrRead);
    }
}

void CGIPump::run()
{
    while ((pipes.stdoutRead >= 0 || pipes.stderrRead >= 0) && !clientGone) {
        fetchBody();

        pollfd fds[3];
        int count = 0;
        int stdinSlot = -1, stdoutSlot = -1, stderrSlot = -1;
        if (pipes.stdinWrite >= 0 && bodyOffset < bodyLength) {
            stdinSlot = count;
            fds[count++] = {pipes.stdinWrite, POLLOUT, 0};
        }
        if (pipes.stdoutRead >= 0) {
            stdoutSlot = count;
            fds[count++] = {pipes.stdoutRead, POLLIN, 0};
        }
        if (pipes.stderrRead >= 0) {
            stderrSlot = count;
            fds[count++] = {pipes.stderrRead, POLLIN, 0};
        }

        double left = deadline - cgiNow();
        if (left <= 0) {
            timedOut = true;
            return;
        }
        int timeout = left > 1.0 ? 1000 : static_cast<int>(left * 1000) + 1;
        int ready = poll(fds, static_cast<nfds_t>(count), timeout);
        if (ready < 0 && errno != EINTR) throw WException("Cannot wait for the CGI program.", -1);
        if (ready <= 0) continue;

        if (stdinSlot >= 0 && fds[stdinSlot].revents != 0) feedStdin();
        if (stdoutSlot >= 0 && fds[stdoutSlot].revents != 0) forwardStdout();
        if (stderrSlot >= 0 && fds[stderrSlot].revents != 0) collectStderr();
    }
}

} // namespace

void CGIExecutor::setTimeLimit(int seconds)
{
    timeLimitSeconds = seconds > 0 ? seconds : 1;
}

int CGIExecutor::getTimeLimit()
{
    return timeLimitSeconds;
}

CGIExecutor::CGIExecutor() {}

CGIExecutor::~CGIExecutor() {}

void CGIExecutor::execute(const char* commandLine, HTTPRequest& request)
{
    ignoreSigpipe();
    double started = cgiNow();
    int timeLimit = timeLimitSeconds;
    double deadline = started + timeLimit;

    CGIPipes pipes;
    pipes.create();

    CGIEnvironment environment(request);
    std::vector<std::string> argv = splitCGICommandLine(commandLine, request.scriptFilename);
    std::string program = argv.empty() ? std::string() : findCGIProgram(argv[0]);
    if (program.empty()) throwCannotCreateProcess(commandLine, ENOENT);

    CGIChild child;
    int error = child.spawn(program, argv, environment.getBlock(), pipes);
    if (error != 0) throwCannotCreateProcess(commandLine, error);

    // The child holds its ends now; ours must go, or we would never see the
    // end of its output (nor it the end of its input).
    CGIPipes::closeOne(pipes.stdinRead);
    if (!CGIPipes::closeOne(pipes.stdoutWrite)) throw WException("Cannot close StdOutWr handle.", -1);
    if (!CGIPipes::closeOne(pipes.stderrWrite)) throw WException("Cannot close StdErrWr handle.", -1);

    HTTPResponse* response = request.response;
    response->setRawCGIOutput(true);
    CGIPump pump(pipes, response, request.contentLength, deadline);
    try {
        pump.run();
    } catch (...) {
        // An error page may follow; it must end its header block.
        response->setRawCGIOutput(false);
        throw;
    }
    response->setRawCGIOutput(false);
    pipes.close();

    if (pump.timedOut) {
        child.kill();
        if (request.control != nullptr) {
            WFormattedString line("CGI program killed after %d seconds: %s", timeLimit, commandLine);
            request.control->log(line, -1);
        }
        return;
    }
    if (pump.clientGone) {
        child.kill();
        return;
    }
    if (!pump.errors.empty()) {
        try {
            response->write(pump.errors.data(), static_cast<unsigned long>(pump.errors.size()));
        } catch (const WException&) {
        }
    }
    child.reap(deadline);
}
