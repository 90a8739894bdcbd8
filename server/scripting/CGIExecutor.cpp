#include "CGIExecutor.h"

#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "WException.h"
#include "ZorvaneControl.h"
#include "internal/CGIChild.h"
#include "internal/CGICommandLine.h"
#include "internal/CGIErrorLines.h"
#include "internal/CGIHeaderBlock.h"
#include "internal/CGIPipes.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

const unsigned long BLOCK = 4096;
// How long a program may take to exit once its output has ended.
const double EXIT_GRACE = 0.2;
// After the program itself has ended and its group is killed, output still
// held open by a process outside the group is waited for this long.
const double DRAIN_LIMIT = 2.0;
// Body bytes are waited for on the socket beside the program's output for
// this long; then the wait is left to the connection's own read, which knows
// the receive time-out and the body deadline of the connection.
const double BODY_POLL_WAIT = 1.0;

std::atomic<int> timeLimitSeconds {300};
// The same limit as for bodies the server reads before a worker starts:
// ZORVANE_BODY_TIMEOUT_MS overrides it there and here.
long initialBodyTimeLimitMs()
{
    const char* text = getenv("ZORVANE_BODY_TIMEOUT_MS");
    if (text != nullptr && *text != '\0') {
        char* end = nullptr;
        long ms = strtol(text, &end, 10);
        if (end != nullptr && *end == '\0' && ms > 0) return ms;
    }
    return 60000;
}

std::atomic<long> bodyTimeLimitMs {initialBodyTimeLimitMs()};

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

// One run of a program: moves the request body to its standard input, its
// standard output to the client once the header lines are checked, and its
// standard error to the error log, until its output ends, the client goes,
// the output turns out malformed or the time limit runs out.
class CGIRun {
public:
    enum class End { Finished, ClientGone, TimedOut, Malformed };

    CGIRun(CGIPipes& pipes, CGIChild& child, HTTPRequest& request, double started, double deadline);

    End run();

    CGIHeaderBlock head;
    CGIErrorLines errors;

private:
    bool bodyWanted() const { return pipes.stdinWrite >= 0 && bodyOffset == bodyLength; }
    void readBody();
    void feedStdin();
    void forwardStdout();
    void collectStderr();
    void closeStdin();
    void sendHead();
    void send(const void* data, size_t length);

    CGIPipes& pipes;
    CGIChild& child;
    HTTPResponse* response;
    int client;
    bool headOnly;
    long remaining;
    double deadline;
    double bodyDeadline;
    double lastBodyBytes;
    double drainUntil = 0;
    bool clientGone = false;
    // Body bytes may wait in the connection's own buffer, where polling the
    // socket cannot see them: read without waiting for the socket until a
    // read comes back short, which means that buffer is empty.
    bool readDirectly = true;
    char body[BLOCK];
    size_t bodyLength = 0;
    size_t bodyOffset = 0;
};

CGIRun::CGIRun(CGIPipes& runPipes, CGIChild& runChild, HTTPRequest& request, double started, double runDeadline)
    : errors([&request](const std::string& line) {
          if (request.control != nullptr) {
              WFormattedString text("CGI %s: %s", request.scriptFilename.getBuf(), line.c_str());
              request.control->log(text, -1);
          }
      }),
      pipes(runPipes), child(runChild), response(request.response), client(request.response->getSocketHandle()),
      headOnly(request.methodIndex == HTTPRequest::METHOD_HEAD),
      remaining(request.contentLength > 0 ? request.contentLength : 0), deadline(runDeadline),
      bodyDeadline(started + static_cast<double>(bodyTimeLimitMs) / 1000), lastBodyBytes(started)
{
}

void CGIRun::closeStdin()
{
    remaining = 0;
    bodyLength = bodyOffset = 0;
    if (pipes.stdinWrite >= 0 && !CGIPipes::closeOne(pipes.stdinWrite))
        throw WException("Cannot close StdInWr handle.", -1);
}

// The next piece of the body. A client that closes, fails or stays silent
// past the connection's receive time-out ends the body early: the program
// sees the end of its input.
void CGIRun::readBody()
{
    unsigned long wanted = remaining < static_cast<long>(BLOCK) ? static_cast<unsigned long>(remaining) : BLOCK;
    int n = 0;
    try {
        n = response->read(body, wanted);
    } catch (const WException&) {
        n = 0;
    }
    readDirectly = n == static_cast<int>(wanted);
    if (n <= 0) {
        closeStdin();
        return;
    }
    lastBodyBytes = cgiNow();
    bodyLength = static_cast<size_t>(n);
    bodyOffset = 0;
    remaining -= n;
}

void CGIRun::feedStdin()
{
    ssize_t n = ::write(pipes.stdinWrite, body + bodyOffset, bodyLength - bodyOffset);
    if (n > 0) {
        bodyOffset += static_cast<size_t>(n);
        if (bodyOffset == bodyLength && remaining <= 0) closeStdin();
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        // The program closed its input (EPIPE): it gets no more of the body.
        closeStdin();
    }
}

void CGIRun::send(const void* data, size_t length)
{
    try {
        response->write(data, static_cast<unsigned long>(length));
    } catch (const WException&) {
        clientGone = true;
    }
}

// The status line from the program's Status line, the server's header lines,
// then the program's own lines and empty line, then whatever body came with
// them. A HEAD request gets no body.
void CGIRun::sendHead()
{
    response->setStatus(head.getStatusCode(), head.getReason());
    response->setRawCGIOutput(true);
    std::string out = head.getHeaderLines();
    std::string rest = head.takeBody();
    if (!headOnly) out += rest;
    send(out.data(), out.size());
}

void CGIRun::forwardStdout()
{
    char buffer[BLOCK];
    ssize_t n = ::read(pipes.stdoutRead, buffer, sizeof(buffer));
    if (n > 0) {
        if (head.getState() == CGIHeaderBlock::State::Complete) {
            if (!headOnly) send(buffer, static_cast<size_t>(n));
        } else if (head.feed(buffer, static_cast<size_t>(n)) == CGIHeaderBlock::State::Complete) {
            sendHead();
        }
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        CGIPipes::closeOne(pipes.stdoutRead);
        head.finish();
    }
}

void CGIRun::collectStderr()
{
    char buffer[BLOCK];
    ssize_t n = ::read(pipes.stderrRead, buffer, sizeof(buffer));
    if (n > 0) {
        errors.feed(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        CGIPipes::closeOne(pipes.stderrRead);
    }
}

CGIRun::End CGIRun::run()
{
    if (remaining <= 0) closeStdin();
    while (pipes.stdoutRead >= 0 || pipes.stderrRead >= 0) {
        if (clientGone) return End::ClientGone;
        // Malformed output still coming: nothing of it can reach the client.
        if (head.getState() == CGIHeaderBlock::State::Malformed && pipes.stdoutRead >= 0) return End::Malformed;

        double now = cgiNow();
        if (now >= deadline) return End::TimedOut;
        if (bodyWanted() && now >= bodyDeadline) closeStdin();
        // A stream without a socket to watch gets its body the blocking way.
        if (bodyWanted() && (readDirectly || client < 0 || now - lastBodyBytes >= BODY_POLL_WAIT)) {
            readBody();
            continue;
        }
        bool exited = drainUntil > 0;
        if (!exited && child.hasEnded()) {
            // Whatever the program left running dies with it; what it wrote
            // is still in the pipes.
            child.killGroup();
            drainUntil = now + DRAIN_LIMIT;
            exited = true;
        }
        if (exited && now >= drainUntil) break;

        pollfd fds[5];
        nfds_t count = 0;
        int stdinSlot = -1, stdoutSlot = -1, stderrSlot = -1, clientSlot = -1;
        if (pipes.stdinWrite >= 0 && bodyOffset < bodyLength) {
            stdinSlot = static_cast<int>(count);
            fds[count++] = {pipes.stdinWrite, POLLOUT, 0};
        }
        if (pipes.stdoutRead >= 0) {
            stdoutSlot = static_cast<int>(count);
            fds[count++] = {pipes.stdoutRead, POLLIN, 0};
        }
        if (pipes.stderrRead >= 0) {
            stderrSlot = static_cast<int>(count);
            fds[count++] = {pipes.stderrRead, POLLIN, 0};
        }
        if (client >= 0) {
            // Only a hang-up is watched once the body is in; bytes the
            // client sends after it are none of the program's business.
            clientSlot = static_cast<int>(count);
            fds[count++] = {client, static_cast<short>(POLLRDHUP | (bodyWanted() ? POLLIN : 0)), 0};
        }
        if (!exited && child.getExitDescriptor() >= 0) fds[count++] = {child.getExitDescriptor(), POLLIN, 0};

        double until = exited ? drainUntil : deadline;
        if (bodyWanted()) {
            until = std::min(until, std::min(bodyDeadline, lastBodyBytes + BODY_POLL_WAIT));
        }
        double left = until - now;
        // Without an exit descriptor the child's end is looked for now and then.
        double step = child.getExitDescriptor() >= 0 ? 1.0 : 0.05;
        int timeout = left > step ? static_cast<int>(step * 1000) : static_cast<int>(left * 1000) + 1;
        int ready = poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR) throw WException("Cannot wait for the CGI program.", -1);
        if (ready <= 0) continue;

        if (stdoutSlot >= 0 && fds[stdoutSlot].revents != 0) forwardStdout();
        if (stderrSlot >= 0 && fds[stderrSlot].revents != 0) collectStderr();
        if (stdinSlot >= 0 && fds[stdinSlot].revents != 0) feedStdin();
        if (clientSlot >= 0) {
            short events = fds[clientSlot].revents;
            if (bodyWanted() && (events & (POLLIN | POLLRDHUP)) != 0) {
                // Body bytes may still wait before the client's end.
                readBody();
            } else if ((events & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
                clientGone = true;
            }
        }
    }
    if (clientGone) return End::ClientGone;
    if (head.getState() == CGIHeaderBlock::State::Incomplete) head.finish();
    return head.getState() == CGIHeaderBlock::State::Malformed ? End::Malformed : End::Finished;
}

// How a program ended, for the answer and the log.
std::string describeEnd(int status)
{
    if (status >= 0 && WIFSIGNALED(status)) {
        int signal = WTERMSIG(status);
        const char* name = sigabbrev_np(signal);
        return "ended by signal " + std::to_string(signal) + (name != nullptr ? std::string(" (SIG") + name + ")" : "");
    }
    if (status >= 0 && WIFEXITED(status)) return "ended with exit code " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

bool crashed(int status)
{
    return status >= 0 && WIFSIGNALED(status);
}

void logError(HTTPRequest& request, const std::string& what)
{
    if (request.control == nullptr) return;
    WFormattedString line("CGI %s: %s", request.scriptFilename.getBuf(), what.c_str());
    request.control->log(line, -1);
}

// An error page, unless the client has already had a status line.
void answer(HTTPResponse* response, unsigned code, const std::string& message)
{
    if (response->isHeadersSent()) return;
    try {
        response->sendError(lookupHTTPStatus(code), message.c_str(), true);
    } catch (const WException&) {
        // the client is gone
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

void CGIExecutor::setBodyTimeLimit(int seconds)
{
    bodyTimeLimitMs = (seconds > 0 ? seconds : 1) * 1000L;
}

int CGIExecutor::getBodyTimeLimit()
{
    return static_cast<int>((bodyTimeLimitMs + 999) / 1000);
}

CGIExecutor::CGIExecutor()
{
}

CGIExecutor::~CGIExecutor()
{
}

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
    CGIRun run(pipes, child, request, started, deadline);
    CGIRun::End end;
    try {
        end = run.run();
    } catch (...) {
        // An error page may follow; it must end its header block.
        response->setRawCGIOutput(false);
        throw;
    }
    response->setRawCGIOutput(false);
    bool outputEnded = pipes.stdoutRead < 0;
    pipes.close();
    run.errors.finish();

    switch (end) {
    case CGIRun::End::ClientGone:
        child.kill();
        if (request.control != nullptr) {
            WFormattedString line("CGI program stopped, the client has gone: %s", commandLine);
            request.control->log(line, 2);
        }
        return;
    case CGIRun::End::TimedOut: {
        child.kill();
        if (request.control != nullptr) {
            WFormattedString line("CGI program killed after %d seconds: %s", timeLimit, commandLine);
            request.control->log(line, -1);
        }
        answer(response, 504, "The CGI program did not answer within " + std::to_string(timeLimit) + " seconds.");
        return;
    }
    case CGIRun::End::Malformed: {
        // A program that ended its output may still be on its way out; one
        // that goes on writing is stopped at once.
        int status = child.finish(outputEnded ? EXIT_GRACE : 0);
        std::string message = run.head.hasOutput() ? run.head.getProblem()
                                                   : "The CGI program " + describeEnd(status) + " before any output.";
        logError(request, message);
        answer(response, 502, message);
        return;
    }
    case CGIRun::End::Finished: {
        int status = child.finish(EXIT_GRACE);
        // The answer is out; a crash after it is still worth a line.
        if (crashed(status)) logError(request, "The CGI program " + describeEnd(status) + ".");
        return;
    }
    }
}
